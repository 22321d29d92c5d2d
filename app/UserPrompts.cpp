#include "app/UserPrompts.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#include "folderpicker/FolderDialog.h"
#include "folderpicker/NarrowText.h"

int WidgetPrompts::MessageBox(QWidget* owner, const std::string& text, const std::string& caption,
                              unsigned style) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if ((style & 0xF0) == kBoxIconExclamation) {
        icon = QMessageBox::Warning;
    } else if ((style & 0xF0) == kBoxIconQuestion) {
        icon = QMessageBox::Question;
    }
    const bool yesNo = (style & 0x0F) == kBoxYesNo;
    QMessageBox box(icon, FromNarrow(caption), FromNarrow(text),
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setTextFormat(Qt::PlainText);  // paths may hold "<" and "&"
    box.setWindowModality(Qt::ApplicationModal);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return kAnswerYes;
        case QMessageBox::No:
            return kAnswerNo;
        default:
            return yesNo ? kAnswerNo : kAnswerOk;
    }
}

namespace {

// The picker as the window uses it, with the folder of the box it fills already chosen.
class StartingPicker : public CFolderDialog {
  public:
    StartingPicker(QWidget* owner, std::string start) : CFolderDialog(owner), m_start(std::move(start)) {}
    void OnBrowseInitialized() override {
        if (QFileInfo(FromNarrow(m_start)).isDir()) {
            SetSelection(m_start);
        }
    }

  private:
    std::string m_start;
};

}  // namespace

std::string WidgetPrompts::ChooseFolder(QWidget* owner, const std::string& title, const std::string& start) {
    StartingPicker picker(owner, start);
    const FolderItemPtr item =
        picker.Browse(title, kBrowseOnlyFileSystemFolders | kBrowseStatusText, nullptr, false);
    return CFolderDialog::PathFromItem(item.get());
}

int WidgetPrompts::RunDialog(QDialog& dialog) {
    return dialog.exec();
}

void WidgetPrompts::OpenFolder(const std::string& folder) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(FromNarrow(folder)));
}
