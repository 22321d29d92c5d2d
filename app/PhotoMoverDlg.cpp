#include "app/PhotoMoverDlg.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <algorithm>
#include <map>

#include "app/AboutDlg.h"
#include "app/DialogForm.h"
#include "app/HistoryMenu.h"
#include "app/OptionsDlg.h"
#include "app/PreviewDlg.h"
#include "app/UserPrompts.h"
#include "desktop/DesktopBus.h"
#include "folderpicker/NarrowText.h"
#include "platform/ExecutablePath.h"
#include "platform/Path.h"
#include "resources/AppResources.h"
#include "resources/Forms.h"
#include "resources/ResourceIds.h"
#include "transfer/PassSettings.h"

namespace {

// The naming values of the form as they stand now: the pass reads them on a thread of its own, where no
// widget may be touched.
transfer::PlainNamingInputs NamingValuesOf(const DialogForm& form) {
    const auto text = [&form](int id) {
        const auto* edit = qobject_cast<const QLineEdit*>(form.Item(id));
        return edit != nullptr ? ToNarrow(edit->text()) : std::string();
    };
    transfer::PlainNamingInputs values;
    values.text = text(IDC_TEXT);
    values.numberText = text(IDC_NUMBER);
    values.renameFind = text(IDC_RENAME_FIND);
    values.renameNew = text(IDC_RENAME_NEW);
    const auto* number = qobject_cast<const QAbstractButton*>(form.Item(IDC_APPEND_NUMBER));
    values.numberChecked = number != nullptr && number->isChecked();
    return values;
}

// "2 of 5 files could not be moved:" and the first ten of them with the reason.
std::string FailureText(const transfer::TransferReport& report, bool archived) {
    constexpr size_t kListed = 10;
    const size_t taken = report.Taken();
    std::string text = std::to_string(report.Failed()) + " of " + std::to_string(taken) +
                       (taken == 1 ? " file" : " files") + " could not be " +
                       (archived ? "archived" : "moved") + ":\n";
    size_t listed = 0;
    for (const transfer::TransferItem& item : report.items) {
        if (item.Done()) {
            continue;
        }
        if (listed == kListed) {
            text += "\n... and " + std::to_string(report.Failed() - listed) + " more.";
            break;
        }
        const bool copied = item.outcome == transfer::Outcome::CopyKept;
        text += "\n" + item.oldName + ": " + (copied ? transfer::OutcomeText(item, archived) : item.reason);
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

constexpr const char* kWorking = "Status: Working...";

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
    m_run.reset();  // a pass still running stops after the file in hand
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
// standard entry that makes sense for a dialog here, Close, and what the import log offers; the About entry
// is added as the window opens.
void CPhotoMoverDlg::CreateSystemMenu() {
    m_systemMenu = new QMenu(this);
    m_systemMenu->setObjectName(QStringLiteral("systemMenu"));
    m_systemMenu->addAction(QStringLiteral("&Close"))->setData(SC_CLOSE);
    m_systemMenu->addSeparator();
    m_previewEntry = m_systemMenu->addAction(QStringLiteral("&Preview..."));
    m_previewEntry->setObjectName(QStringLiteral("previewEntry"));
    m_previewEntry->setShortcut(QKeySequence(Qt::Key_F5));  // shown in the menu; the window takes the key
    connect(m_previewEntry, &QAction::triggered, this, &CPhotoMoverDlg::OnPreview);
    m_history = new HistoryMenu(*m_systemMenu, *this, *m_prompts, m_appName);
    // An undo runs off the window's thread, the form kept still meanwhile as during a transfer.
    connect(m_history, &HistoryMenu::undoRunning, this, [this, before = std::string()](bool running) mutable {
        LockForm(running);
        if (running) {
            before = m_strStatus;
        }
        SetStatus(running ? "Status: Undoing the last transfer..." : before);
    });
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
    m_optionsEntry = sysMenu->addAction(QStringLiteral("&Options..."));
    m_optionsEntry->setObjectName(QStringLiteral("optionsEntry"));
    m_optionsEntry->setData(IDM_OPTIONS);
}

// What a transfer does beyond the window's own options. The settings it writes are read by the next pass.
void CPhotoMoverDlg::OnOptions() {
    if (Transferring()) {
        return;
    }
    COptionsDlg options(m_settings, *m_prompts, m_appName, this);
    m_prompts->RunDialog(options);
    activateWindow();
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
    if (command == IDM_OPTIONS) {
        OnOptions();
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

// F1 is the Help command. Shift+F10 asks the control with the focus for its context menu, as the Menu key
// does; the window's menu opens when the control has none of its own.
void CPhotoMoverDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        OnCommand(ID_HELP, kClicked);
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_F5 && event->modifiers() == Qt::NoModifier) {
        if (!Transferring()) {
            OnPreview();
        }
        event->accept();
        return;
    }
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
    // While a pass runs the form stays locked as it was when OK was pressed.
    if (!Transferring()) {
        ApplyEnablingRules(id, notification);
    }
    const bool handled = HandleCommand(id, notification);
    if (notification == kClicked || notification == kChange) {
        RefreshPreview();
    }
    return handled;
}

void CPhotoMoverDlg::ApplyEnablingRules(int id, Notification notification) {
    QWidget* text = GetDlgItem(IDC_TEXT);
    const bool textChosen = IsChecked(IDC_APPEND_TEXT);
    // A click that ends the Text option takes the focus from its box to the control clicked. A mnemonic
    // clicks without moving the focus, and a box that is disabled hands the focus on down the tab order, to
    // wherever that leads (the check box, which the next Space would tick).
    if (!textChosen && text->hasFocus() && notification == kClicked) {
        if (QWidget* clicked = GetDlgItem(id); clicked != nullptr && clicked->focusPolicy() != Qt::NoFocus) {
            clicked->setFocus(Qt::ShortcutFocusReason);
        }
    }
    text->setEnabled(textChosen);
    // While Text is chosen, its box keeps the focus, whatever the command.
    if (text->isEnabled()) {
        text->setFocus();
    }
    GetDlgItem(IDC_NUMBER)->setEnabled(IsChecked(IDC_APPEND_NUMBER));
    GetDlgItem(IDC_RENAME_FIND)->setEnabled(IsChecked(IDC_APPEND_RENAME));
    GetDlgItem(IDC_RENAME_NEW)->setEnabled(IsChecked(IDC_APPEND_RENAME));
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
    const auto* edit = qobject_cast<const QLineEdit*>(GetDlgItem(editId));
    const std::string path =
        m_prompts->ChooseFolder(this, title, platform::ExpandHome(ToNarrow(edit->text())));
    if (path.empty()) {
        return;
    }
    SetItemText(editId, path);
    if (MessageBox("Save Location? \n\n" + path, kBoxYesNo | kBoxIconQuestion) == kAnswerYes &&
        !transfer::SaveSettings(m_settings, {{settingsKey, path}}).empty()) {
        const std::string file = m_settings.Path();
        MessageBox(file.empty() ? "There is no settings file to save the location in."
                                : "The location could not be saved in " + file + ".",
                   kBoxOk | kBoxIconExclamation);
    }
    if (const std::string copied = SettingsFile::TakeCopyNotice(); !copied.empty()) {
        MessageBox(copied, kBoxOk);
    }
}

// Every click loads the stored counter, also over what the user typed; "~" when none is stored.
void CPhotoMoverDlg::OnAppendNumber() {
    if (GetDlgItem(IDC_NUMBER) != nullptr) {
        m_savedCounter = m_settings.Read("counter");
        SetItemText(IDC_NUMBER, m_savedCounter);
    }
}

void CPhotoMoverDlg::OnOK() {
    if (Transferring()) {
        return;  // one pass at a time
    }
    if (ReadFormForTransfer()) {
        StartTransfer(std::nullopt);
    }
}

// OK's checks of the form: false, after a box that says why, when no transfer can run.
bool CPhotoMoverDlg::ReadFormForTransfer() {
    if (!UpdateData(true)) {
        MessageBox("Failed to resolve all Variables", kBoxOk);
        return false;
    }
    if (m_strFromDir.empty()) {
        MessageBox("Please locate the directory for the camera.", kBoxOk | kBoxIconExclamation);
        return false;
    }
    if (m_strToDir.empty()) {
        MessageBox("Please locate the directory to move the images to.", kBoxOk | kBoxIconExclamation);
        return false;
    }
    return true;
}

// The pass the form asks for, as last read.
RunRequest CPhotoMoverDlg::RequestFromForm() const {
    const transfer::PlainNamingInputs values = NamingValuesOf(*m_form);
    // A number box that still shows the saved counter lets the pass take the counter afresh: another pass,
    // here or in another copy of the program, may have moved it on meanwhile.
    RunRequest request;
    request.pass = IsChecked(IDC_SEND_TO_ZIP) ? m_passes.archive : m_passes.move;
    request.fromDir = platform::ExpandHome(m_strFromDir);
    request.toDir = platform::ExpandHome(m_strToDir);
    request.option = m_nNameOption;
    request.inputs = values;
    request.settings = m_settings;
    request.numberFromSavedCounter = values.numberText == m_savedCounter;
    request.disks = m_desktop.disks;
    return request;
}

void CPhotoMoverDlg::StartTransfer(std::optional<std::set<std::string>> onlyListed) {
    m_strStatus = kWorking;
    UpdateData(false);
    m_runArchives = IsChecked(IDC_SEND_TO_ZIP);
    m_passTotal = 0;
    RunRequest request = RequestFromForm();
    request.onlyListed = std::move(onlyListed);
    m_run = std::make_unique<TransferRun>(std::move(request));
    m_passStart = std::chrono::steady_clock::now();
    connect(m_run.get(), &TransferRun::progress, this, &CPhotoMoverDlg::OnPassProgress, Qt::QueuedConnection);
    connect(
        m_run.get(), &TransferRun::numberChanged, this,
        [this](const QString& number) {
            // The pass keeps the counter as it goes: the box shows the saved counter again.
            m_savedCounter = ToNarrow(number);
            SetItemText(IDC_NUMBER, m_savedCounter);
        },
        Qt::QueuedConnection);
    connect(m_run.get(), &TransferRun::finished, this, &CPhotoMoverDlg::OnPassFinished, Qt::QueuedConnection);
    LockForm(true);
    m_run->Start();
}

// The preview lists what OK would do with the form as it stands; it follows the form while it is open.
void CPhotoMoverDlg::OnPreview() {
    if (Transferring() || !ReadFormForTransfer()) {
        return;
    }
    if (m_preview == nullptr) {
        m_preview = new PreviewDlg(this);
        connect(m_preview, &PreviewDlg::runRequested, this, &CPhotoMoverDlg::OnPreviewOk);
    }
    m_preview->List(RequestFromForm(), IsChecked(IDC_SEND_TO_ZIP));
    m_preview->show();
    m_preview->raise();
}

void CPhotoMoverDlg::RefreshPreview() {
    if (m_preview != nullptr && m_preview->isVisible() && !Transferring() && UpdateData(true) &&
        !m_strFromDir.empty() && !m_strToDir.empty()) {
        m_preview->List(RequestFromForm(), IsChecked(IDC_SEND_TO_ZIP));
    }
}

// OK in the preview runs the transfer it listed, and only the files it listed. When another transfer has
// moved the running number on meanwhile, the names listed would not be the ones given: the number box takes
// the counter as it is now, and the preview lists again first.
void CPhotoMoverDlg::OnPreviewOk() {
    if (Transferring() || !m_preview->Complete() || !ReadFormForTransfer()) {
        return;
    }
    if (RequestFromForm().numberFromSavedCounter &&
        m_settings.Read("counter") != m_preview->NumberListedFrom()) {
        OnAppendNumber();
        RefreshPreview();
        return;
    }
    m_preview->hide();
    StartTransfer(m_preview->Listed());
}

void CPhotoMoverDlg::OnPassProgress(qulonglong handled, qulonglong total) {
    if (Transferring()) {
        m_passTotal = total;
        const std::string count = std::to_string(handled) + (total > 0 ? " of " + std::to_string(total) : "");
        SetStatus(std::string(kWorking) + " " + count + (m_run->Cancelled() ? ", stopping" : ""));
    }
}

void CPhotoMoverDlg::OnPassFinished() {
    const transfer::TransferReport report = m_run->Report();
    m_run.reset();
    LockForm(false);
    if (m_closeAfterPass) {
        ReportOutcome(report, m_runArchives, /*stopped=*/true);
        QDialog::reject();
        return;
    }
    m_strStatus = "Status: Finished Moving Files!";
    UpdateData(false);
    NotifyIfAway(report, m_runArchives);
    ReportOutcome(report, m_runArchives, /*stopped=*/false);
}

// While a pass runs only Cancel and Help take input: nothing typed or clicked meanwhile may start another
// pass once this one ends. The focus leaves the form, so that Enter and Space press nothing; Esc still
// reaches the window and cancels.
void CPhotoMoverDlg::LockForm(bool locked) {
    if (m_optionsEntry != nullptr) {
        m_optionsEntry->setEnabled(!locked);
    }
    if (locked) {
        m_focusBeforePass = focusWidget();
        if (focusWidget() != nullptr) {
            focusWidget()->clearFocus();
        }
    }
    m_history->SetEnabled(!locked);
    m_previewEntry->setEnabled(!locked);
    const auto& controls = m_form->Template().controls;
    for (size_t i = 0; i < controls.size(); ++i) {
        const int id = controls[i].id;
        if (id != IDC_STATIC && id != IDCANCEL && id != ID_HELP && id != IDC_STATUS &&
            id != IDC_APPEND_GROUP) {
            m_form->Controls()[i]->setEnabled(!locked);
        }
    }
    if (!locked) {
        ApplyEnablingRules(IDOK, kClicked);
        if (m_focusBeforePass != nullptr && focusWidget() == nullptr) {
            m_focusBeforePass->setFocus();
        }
    }
}

void CPhotoMoverDlg::SetStatus(const std::string& status) {
    m_strStatus = status;
    SetItemText(IDC_STATUS, status);
}

// Cancel during a pass stops it after the file in hand; the window stays until the pass has ended, so that
// what the pass began (an archive of the pictures packed so far) is finished properly first and no one pulls
// the card meanwhile; it then says what was done, and closes.
void CPhotoMoverDlg::OnCancel() {
    if (!Transferring()) {
        QDialog::reject();
    } else if (!m_run->Cancelled()) {
        m_run->Cancel();
        m_closeAfterPass = true;
        SetStatus(m_strStatus + ", stopping");
    }
}

// What a pass that the user stopped did: "Archived 33 of 150 pictures; the others are still in the camera
// folder." `total` is the count the pass last gave with its progress.
std::string StoppedText(const transfer::TransferReport& report, bool archived, size_t total) {
    total = std::max(total, report.Taken());
    std::string text = std::string(archived ? "Archived " : "Moved ") + std::to_string(report.Done()) +
                       " of " + std::to_string(total) + (archived ? " pictures" : " files");
    return text + (report.Done() < total ? "; the others are still in the camera folder." : ".");
}

// Nothing is said after a transfer that went as asked. A warning tells what needs the user's attention: a
// pass that could not run, files that could not be moved, files of the kinds a camera writes that stay in the
// camera folder (a user about to clear the card must not believe it empty), a running number that could not
// be kept. What is only worth knowing comes as a note, without the warning's icon: the videos that the
// archive leaves by design and files of other kinds, an earlier archive kept under another name. After a
// stop, what was done comes first.
void CPhotoMoverDlg::ReportOutcome(const transfer::TransferReport& report, bool archived, bool stopped) {
    std::string text;
    bool warn = false;
    const auto add = [&text, &warn](const std::string& paragraph, bool warning) {
        if (!paragraph.empty()) {
            text += (text.empty() ? "" : "\n\n") + paragraph;
            warn = warn || warning;
        }
    };
    if (stopped) {
        add(StoppedText(report, archived, m_passTotal), false);
    }
    if (!report.problem.empty()) {
        add(Sentence(std::string(archived ? "nothing was archived: " : "nothing was moved: ") +
                     report.problem),
            true);
    }
    add(report.Failed() > 0 ? FailureText(report, archived) : "", true);
    for (const std::string& unread : report.unread) {
        add(Sentence(unread), true);
    }
    std::map<std::string, size_t> onTheCard, byDesign;
    for (const auto& [kind, count] : report.leftBehind) {
        const bool kept = transfer::IsCameraKind(kind) && !(archived && transfer::IsVideoKind(kind));
        (kept ? onTheCard : byDesign)[kind] += count;
    }
    if (const std::string left = transfer::LeftBehindText(onTheCard); !left.empty()) {
        add(Sentence(left) +
                " Options... in the window menu (right-click the window) can have them taken too.",
            true);
    }
    add(Sentence(transfer::LeftBehindText(byDesign)), false);
    add(Sentence(report.counterError), true);
    add(Sentence(report.logError), true);
    add(Sentence(transfer::AlreadyThereText(report)), false);
    add(report.notice, false);
    add(SettingsFile::TakeCopyNotice(), false);
    add(report.card, report.card != transfer::kCardEjected);
    if (!text.empty()) {
        MessageBox(text, warn ? kBoxOk | kBoxIconExclamation : kBoxOk);
    }
}

// A transfer that took a while may end while the user works elsewhere: the desktop tells them.
void CPhotoMoverDlg::NotifyIfAway(const transfer::TransferReport& report, bool archived) {
    if (m_desktop.notifier == nullptr || isActiveWindow() ||
        std::chrono::steady_clock::now() - m_passStart < m_desktop.notifyAfter) {
        return;
    }
    std::string body =
        report.problem.empty()
            ? std::string(archived ? "Archived " : "Moved ") + std::to_string(report.Done()) + " of " +
                  std::to_string(report.Taken()) + (report.Taken() == 1 ? " file." : " files.")
            : Sentence(std::string(archived ? "nothing was archived: " : "nothing was moved: ") +
                       report.problem);
    if (!report.card.empty()) {
        body += " " + report.card;
    }
    m_desktop.notifier->Notify("Tovaro: transfer finished", body);
}

int CPhotoMoverDlg::MessageBox(const std::string& text, unsigned style) {
    return m_prompts->MessageBox(this, text, m_appName, style);
}
