#include "app/PhotoMoverDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <algorithm>

#include "app/AboutDlg.h"
#include "app/DialogForm.h"
#include "app/NarrowText.h"
#include "app/UserPrompts.h"
#include "platform/ExecutablePath.h"
#include "resources/AppResources.h"
#include "resources/Forms.h"
#include "resources/ResourceIds.h"

namespace {

// The naming rules read the option boxes afresh for every file and advance the number box as they go.
class FormInputs final : public transfer::NamingInputs {
  public:
    explicit FormInputs(const DialogForm& form) : m_form(form) {}

    std::string Text() const override { return TextOf(IDC_TEXT); }
    std::string NumberText() const override { return TextOf(IDC_NUMBER); }
    void SetNumberText(const std::string& text) override {
        if (auto* edit = qobject_cast<QLineEdit*>(m_form.Item(IDC_NUMBER))) {
            edit->setText(FromNarrow(text));
        }
    }
    std::string RenameFind() const override { return TextOf(IDC_RENAME_FIND); }
    std::string RenameNew() const override { return TextOf(IDC_RENAME_NEW); }
    bool IsNumberChecked() const override {
        const auto* radio = qobject_cast<const QAbstractButton*>(m_form.Item(IDC_APPEND_NUMBER));
        return radio != nullptr && radio->isChecked();
    }

  private:
    std::string TextOf(int id) const {
        const auto* edit = qobject_cast<const QLineEdit*>(m_form.Item(id));
        return edit != nullptr ? ToNarrow(edit->text()) : std::string();
    }

    const DialogForm& m_form;
};

bool AnyFailed(const transfer::TransferReport& report) {
    return std::any_of(report.items.begin(), report.items.end(),
                       [](const auto& item) { return !item.Done(); });
}

// "2 of 5 files could not be moved:" and the first ten of them with the reason.
std::string FailureText(const transfer::TransferReport& report, bool archived) {
    constexpr size_t kListed = 10;
    const size_t taken = report.items.size();
    const auto failed = static_cast<size_t>(std::count_if(report.items.begin(), report.items.end(),
                                                          [](const auto& item) { return !item.Done(); }));
    std::string text = std::to_string(failed) + " of " + std::to_string(taken) +
                       (taken == 1 ? " file" : " files") + " could not be " +
                       (archived ? "archived" : "moved") + ":\n";
    size_t listed = 0;
    for (const transfer::TransferItem& item : report.items) {
        if (item.Done()) {
            continue;
        }
        if (listed == kListed) {
            text += "\n... and " + std::to_string(failed - listed) + " more.";
            break;
        }
        text += "\n" + item.oldName + ": " + item.reason;
        ++listed;
    }
    return text;
}

// The engine's phrases ("the running number could not be saved in ...") as a sentence of their own.
std::string Sentence(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') {
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    }
    if (!text.empty() && text.back() != '.') {
        text += '.';
    }
    return text;
}

}  // namespace

CPhotoMoverDlg::CPhotoMoverDlg(TransferPasses passes, SettingsFile settings, UserPrompts* prompts,
                               QWidget* parent)
    : QDialog(parent),
      m_hIcon(resources::AppIcon()),
      m_passes(std::move(passes)),
      m_settings(std::move(settings)),
      m_prompts(prompts),
      m_appName(platform::ApplicationNameFor(platform::ExecutablePath())) {
    setObjectName(QStringLiteral("CPhotoMoverDlg"));
    if (m_prompts == nullptr) {
        m_ownPrompts = std::make_unique<WidgetPrompts>();
        m_prompts = m_ownPrompts.get();
    }
    m_form = std::make_unique<DialogForm>(this, resources::MainForm());
    CreateSystemMenu();
    ConnectCommands();
}

CPhotoMoverDlg::~CPhotoMoverDlg() {
    // The controls outlive this part of the window; what they still send must not reach it.
    for (QWidget* control : m_form->Controls()) {
        control->disconnect(this);
    }
    OnDestroy();
}

void CPhotoMoverDlg::OnDestroy() {
    emit helpCloseRequested();
}

QWidget* CPhotoMoverDlg::GetDlgItem(int id) const {
    return m_form->Item(id);
}

// Clicks of buttons, radio buttons and the check box; edit boxes gaining or losing the focus or changing
// their text: each is a command notification.
void CPhotoMoverDlg::ConnectCommands() {
    const auto& controls = m_form->Template().controls;
    for (size_t i = 0; i < controls.size(); ++i) {
        const int id = controls[i].id;
        QWidget* widget = m_form->Controls()[i];
        if (auto* edit = qobject_cast<FormEdit*>(widget)) {
            connect(edit, &FormEdit::focusGained, this, [this, id] { OnCommand(id, kSetFocus); });
            connect(edit, &FormEdit::focusLost, this, [this, id] { OnCommand(id, kKillFocus); });
            connect(edit, &QLineEdit::textChanged, this, [this, id] { OnCommand(id, kChange); });
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommand(id, kClicked); });
        }
    }
}

void CPhotoMoverDlg::showEvent(QShowEvent* event) {
    if (!m_opened) {
        m_opened = true;
        if (OnInitDialog()) {
            // The first tab stop of the form takes the focus: the OK button.
            const auto& controls = m_form->Template().controls;
            for (size_t i = 0; i < controls.size(); ++i) {
                if ((controls[i].style & resources::kTabStop) && m_form->Controls()[i]->isEnabled()) {
                    m_form->Controls()[i]->setFocus();
                    break;
                }
            }
        }
    }
    QDialog::showEvent(event);
}

bool CPhotoMoverDlg::OnInitDialog() {
    UpdateData(false);
    AddAboutEntry();
    setWindowIcon(m_hIcon);
    if (auto* nothing = qobject_cast<QAbstractButton*>(GetDlgItem(IDC_APPEND_NOTHING))) {
        nothing->setChecked(true);
    }
    m_strStatus = "Status: Tovaro Utility";
    // A folder never saved reads as "~", which the boxes show like any folder.
    m_strToDir = m_settings.Read("todir");
    m_strFromDir = m_settings.Read("fromdir");
    UpdateData(false);
    return true;
}

// This desktop has no system menu that a program can add to. The window's context menu stands in for it:
// the right mouse button on the window's background, the Menu key and Shift+F10 open it. It starts with the
// standard entry that makes sense for a dialog here, Close; the About entry is added as the window opens.
void CPhotoMoverDlg::CreateSystemMenu() {
    m_systemMenu = new QMenu(this);
    m_systemMenu->setObjectName(QStringLiteral("systemMenu"));
    m_systemMenu->addAction(QStringLiteral("&Close"))->setData(SC_CLOSE);
    connect(m_systemMenu, &QMenu::triggered, this,
            [this](QAction* entry) { OnSysCommand(entry->data().toUInt(), 0); });
}

// The About entry goes at the end of the system menu (here the context menu that stands in for it),
// after a separator, with the text of string IDS_ABOUTBOX.
void CPhotoMoverDlg::AddAboutEntry() {
    QMenu* sysMenu = GetSystemMenu();
    if (sysMenu == nullptr) {
        return;
    }
    const std::string_view aboutMenu = resources::LoadString(IDS_ABOUTBOX);
    if (aboutMenu.empty()) {
        return;
    }
    sysMenu->addSeparator();
    QAction* about =
        sysMenu->addAction(QString::fromUtf8(aboutMenu.data(), static_cast<qsizetype>(aboutMenu.size())));
    about->setData(IDM_ABOUTBOX);
}

void CPhotoMoverDlg::OnSysCommand(unsigned command, long long parameter) {
    (void)parameter;  // where the menu was chosen from: of no use here
    if ((command & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout(this);
        dlgAbout.exec();
        // Back to the window, with the focus where the user left it: not every desktop hands the focus
        // back to a window whose box has closed.
        activateWindow();
        return;
    }
    // The standard handling. Of the standard commands only Close exists here; it closes the window the
    // way the close button does, by the cancel route.
    if ((command & 0xFFF0) == SC_CLOSE) {
        close();
    }
}

// A context menu that no control took for itself (an edit box shows its own) is the window's.
void CPhotoMoverDlg::contextMenuEvent(QContextMenuEvent* event) {
    m_systemMenu->popup(event->globalPos());
    event->accept();
}

// Shift+F10 asks the control with the focus for its context menu, as the Menu key does; the window's menu
// opens when the control has none of its own.
void CPhotoMoverDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        QWidget* target = focusWidget() != nullptr ? focusWidget() : this;
        const QPoint at = target->rect().center();
        QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, at, target->mapToGlobal(at),
                                    event->modifiers());
        QApplication::sendEvent(target, &menuEvent);
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool CPhotoMoverDlg::UpdateData(bool saveAndValidate) {
    m_exchangeFailed = false;
    DoDataExchange(saveAndValidate);
    return !m_exchangeFailed;
}

void CPhotoMoverDlg::DoDataExchange(bool saveAndValidate) {
    DDX_Control(IDC_NUMBER, m_editNumber);
    DDX_Control(IDC_TEXT, m_editText);
    DDX_Control(IDC_RENAME_NEW, m_editRenameNew);
    DDX_Control(IDC_RENAME_FIND, m_editRenameFind);
    DDX_Control(IDC_APPEND_TEXT, m_radioText);
    DDX_Control(IDC_APPEND_DATE, m_radioDate);
    DDX_Control(IDC_APPEND_NUMBER, m_radioNumber);
    DDX_Control(IDC_APPEND_RENAME, m_radioRename);
    DDX_Radio(saveAndValidate, IDC_APPEND_NOTHING, m_nNameOption);
    DDX_Text(saveAndValidate, IDC_FROMDIR, m_strFromDir);
    DDX_Text(saveAndValidate, IDC_TODIR, m_strToDir);
    DDX_Text(saveAndValidate, IDC_STATUS, m_strStatus);
}

template <typename Control>
void CPhotoMoverDlg::DDX_Control(int id, Control*& control) {
    auto* found = qobject_cast<Control*>(GetDlgItem(id));
    if (found == nullptr) {
        m_exchangeFailed = true;
        return;
    }
    control = found;
}

void CPhotoMoverDlg::DDX_Radio(bool saveAndValidate, int firstId, int& value) {
    if (m_form->RadioGroup(firstId).empty()) {
        m_exchangeFailed = true;
    } else if (saveAndValidate) {
        value = m_form->CheckedRadio(firstId);
    } else {
        m_form->CheckRadio(firstId, value);
    }
}

void CPhotoMoverDlg::DDX_Text(bool saveAndValidate, int id, std::string& value) {
    QWidget* widget = GetDlgItem(id);
    auto* edit = qobject_cast<QLineEdit*>(widget);
    auto* label = qobject_cast<QLabel*>(widget);
    if (edit == nullptr && label == nullptr) {
        m_exchangeFailed = true;
    } else if (saveAndValidate) {
        value = ToNarrow(edit != nullptr ? edit->text() : label->text());
    } else {
        SetItemText(id, value);
    }
}

void CPhotoMoverDlg::SetItemText(int id, const std::string& text) {
    const QString value = FromNarrow(text);
    if (auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(id))) {
        if (edit->text() != value) {  // leaves the cursor of an unchanged box alone
            edit->setText(value);
        }
    } else if (auto* label = qobject_cast<QLabel*>(GetDlgItem(id))) {
        label->setText(value);
    }
}

bool CPhotoMoverDlg::IsChecked(int id) const {
    const auto* button = qobject_cast<const QAbstractButton*>(GetDlgItem(id));
    return button != nullptr && button->isChecked();
}

void CPhotoMoverDlg::accept() {
    OnCommand(IDOK, kClicked);
}
void CPhotoMoverDlg::reject() {
    OnCommand(IDCANCEL, kClicked);
}

bool CPhotoMoverDlg::OnCommand(int id, Notification notification) {
    QWidget* text = GetDlgItem(IDC_TEXT);
    text->setEnabled(IsChecked(IDC_APPEND_TEXT));
    // While Text is chosen, its box keeps the focus, whatever the command.
    if (text->isEnabled()) {
        text->setFocus();
    }
    GetDlgItem(IDC_NUMBER)->setEnabled(IsChecked(IDC_APPEND_NUMBER));
    GetDlgItem(IDC_RENAME_FIND)->setEnabled(IsChecked(IDC_APPEND_RENAME));
    GetDlgItem(IDC_RENAME_NEW)->setEnabled(IsChecked(IDC_APPEND_RENAME));
    return HandleCommand(id, notification);
}

bool CPhotoMoverDlg::HandleCommand(int id, Notification notification) {
    if (notification != kClicked) {
        return false;
    }
    switch (id) {
        case IDC_BROWSE_FROM:
            OnBrowseFrom();
            return true;
        case IDC_BROWSE_TO:
            OnBrowseTo();
            return true;
        case IDC_APPEND_NUMBER:
            OnAppendNumber();
            return true;
        case IDOK:
            OnOK();
            return true;
        case IDCANCEL:
            OnCancel();
            return true;
        case ID_HELP:
            emit helpRequested();
            return true;
        default:
            return false;
    }
}

void CPhotoMoverDlg::OnBrowseFrom() {
    OnBrowse("Select from directory", IDC_FROMDIR, "fromdir");
}
void CPhotoMoverDlg::OnBrowseTo() {
    OnBrowse("Select to directory", IDC_TODIR, "todir");
}

// The chosen folder goes into the box only; the field takes it over when OK reads the form.
void CPhotoMoverDlg::OnBrowse(const std::string& title, int editId, const char* settingsKey) {
    const std::string path = m_prompts->ChooseFolder(this, title);
    if (path.empty()) {
        return;
    }
    SetItemText(editId, path);
    if (MessageBox("Save Location? \n\n" + path, kBoxYesNo | kBoxIconQuestion) == kAnswerYes) {
        m_settings.Write(settingsKey, path);
    }
}

// Every click loads the stored counter, also over what the user typed; "~" when none is stored.
void CPhotoMoverDlg::OnAppendNumber() {
    if (GetDlgItem(IDC_NUMBER) != nullptr) {
        SetItemText(IDC_NUMBER, m_settings.Read("counter"));
    }
}

void CPhotoMoverDlg::OnOK() {
    if (!UpdateData(true)) {
        MessageBox("Failed to resolve all Variables", kBoxOk);
        return;
    }
    if (m_strFromDir.empty()) {
        MessageBox("Please locate the directory for the camera.", kBoxOk | kBoxIconExclamation);
        return;
    }
    if (m_strToDir.empty()) {
        MessageBox("Please locate the directory to move the images to.", kBoxOk | kBoxIconExclamation);
        return;
    }
    m_strStatus = "Status: Working...";
    UpdateData(false);
    GetDlgItem(IDC_STATUS)->repaint();  // the pass holds the only thread until it ends

    const bool archive = IsChecked(IDC_SEND_TO_ZIP);
    const TransferPasses::Pass& pass = archive ? m_passes.archive : m_passes.move;
    FormInputs inputs(*m_form);
    transfer::TransferReport report;
    if (pass) {
        report = pass(m_strFromDir, m_strToDir, m_nNameOption, inputs, m_settings, transfer::PassOptions{});
    }

    m_strStatus = "Status: Finished Moving Files!";
    UpdateData(false);
    ReportOutcome(report, archive);
}

void CPhotoMoverDlg::OnCancel() {
    QDialog::reject();
}

// "Finished" is said after every pass, so what went wrong must not go unnoticed: files that stayed behind,
// a running number that could not be kept. What the pass did besides (an earlier archive kept under another
// name) is told as well.
void CPhotoMoverDlg::ReportOutcome(const transfer::TransferReport& report, bool archived) {
    std::string text;
    bool warn = false;
    const auto add = [&text](const std::string& paragraph) {
        text += (text.empty() ? "" : "\n\n") + paragraph;
    };
    if (AnyFailed(report)) {
        add(FailureText(report, archived));
        warn = true;
    }
    if (!report.counterError.empty()) {
        add(Sentence(report.counterError));
        warn = true;
    }
    if (!report.notice.empty()) {
        add(report.notice);
    }
    if (!text.empty()) {
        MessageBox(text, warn ? kBoxOk | kBoxIconExclamation : kBoxOk);
    }
}

int CPhotoMoverDlg::MessageBox(const std::string& text, unsigned style) {
    return m_prompts->MessageBox(this, text, m_appName, style);
}
