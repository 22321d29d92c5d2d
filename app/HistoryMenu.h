// "Show the last transfer" and "Undo the last transfer..." in the window menu: what the import log says of
// the latest transfer, and putting its files back.
#pragma once

#include <QObject>
#include <string>
#include <thread>

#include "transfer/History.h"

class QAction;
class QMenu;
class QWidget;
class UserPrompts;

class HistoryMenu : public QObject {
    Q_OBJECT
  public:
    // Adds the two entries to `menu`. Boxes go through `prompts`, owned by `owner`, with `caption`.
    HistoryMenu(QMenu& menu, QWidget& owner, UserPrompts& prompts, std::string caption);
    // Waits for an undo under way.
    ~HistoryMenu() override;

    // Off while a transfer of the window runs; undo refuses by itself while any other transfer runs.
    void SetEnabled(bool enabled);

    void ShowLastTransfer();
    // Asks first, saying how many files go back from where to where, then puts them back on a thread of
    // its own and tells what it did. Refused, without asking, while any transfer runs.
    void UndoLastTransfer();

  signals:
    // An undo began or ended: the window keeps its form still meanwhile, and keeps painting.
    void undoRunning(bool running);
    void undoFinished();  // from the undo's thread

  private:
    void Tell(const std::string& text, bool warn);
    void OnUndoFinished();

    QWidget& m_owner;
    UserPrompts& m_prompts;
    std::string m_caption;
    QAction* m_show;
    QAction* m_undo;
    std::thread m_undoThread;
    transfer::UndoReport m_undoReport;  // complete once undoFinished has come
};
