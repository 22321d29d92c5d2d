// "Show the last transfer" and "Undo the last transfer..." in the window menu: what the import log says of
// the latest transfer, and putting its files back.
#pragma once

#include <QObject>
#include <string>

class QAction;
class QMenu;
class QWidget;
class UserPrompts;

class HistoryMenu : public QObject {
    Q_OBJECT
  public:
    // Adds the two entries to `menu`. Boxes go through `prompts`, owned by `owner`, with `caption`.
    HistoryMenu(QMenu& menu, QWidget& owner, UserPrompts& prompts, std::string caption);

    // Off while a transfer of the window runs; undo refuses by itself while any other transfer runs.
    void SetEnabled(bool enabled);

    void ShowLastTransfer();
    // Asks first, saying how many files go back from where to where.
    void UndoLastTransfer();

  private:
    void Tell(const std::string& text, bool warn);

    QWidget& m_owner;
    UserPrompts& m_prompts;
    std::string m_caption;
    QAction* m_show;
    QAction* m_undo;
};
