#include "app/OptionsDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <algorithm>
#include <ctime>

#include "app/UserPrompts.h"
#include "folderpicker/NarrowText.h"
#include "platform/Path.h"
#include "transfer/DatedFolders.h"
#include "transfer/NamingRules.h"
#include "transfer/PassSettings.h"

namespace {

constexpr const char* kDefaultPattern = "%Y/%Y-%m-%d";

std::string Joined(std::span<const std::string_view> extensions) {
    std::string text;
    for (const std::string_view extension : extensions) {
        text.append(text.empty() ? "" : " ").append(extension);
    }
    return text;
}

// The extensions of today's cameras that a list takes: the videos only where it is the moved files' list.
std::vector<std::string_view> TodaysFor(bool moved) {
    std::vector<std::string_view> todays(transfer::TodaysPictureExtensions().begin(),
                                         transfer::TodaysPictureExtensions().end());
    if (moved) {
        todays.insert(todays.end(), transfer::TodaysVideoExtensions().begin(),
                      transfer::TodaysVideoExtensions().end());
    }
    return todays;
}

bool HoldsAll(const QLineEdit& list, const std::vector<std::string_view>& wanted) {
    const std::vector<std::string> held = transfer::ParseExtensionList(ToNarrow(list.text())).extensions;
    return std::ranges::all_of(
        wanted, [&held](std::string_view e) { return std::ranges::find(held, e) != held.end(); });
}

// `list` with `extensions` added at its end, or taken out of it; the rest as the user wrote it.
QString WithOrWithout(const QString& list, const std::vector<std::string_view>& extensions, bool with) {
    QStringList kept;
    for (const QString& entry :
         list.split(QRegularExpression(QStringLiteral("[ \\t,]+")), Qt::SkipEmptyParts)) {
        const bool todays = std::ranges::find(extensions, ToNarrow(entry.toLower())) != extensions.end();
        if (!todays) {
            kept << entry;
        }
    }
    if (with) {
        for (const std::string_view extension : extensions) {
            kept << QString::fromUtf8(extension.data(), static_cast<qsizetype>(extension.size()));
        }
    }
    return kept.join(u' ');
}

template <typename Widget, typename... Args>
Widget* Make(QWidget* parent, const char* name, Args&&... args) {
    auto* widget = new Widget(std::forward<Args>(args)..., parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

COptionsDlg::COptionsDlg(SettingsFile settings, UserPrompts& prompts, const std::string& caption,
                         QWidget* parent)
    : QDialog(parent), m_settings(std::move(settings)), m_prompts(prompts), m_caption(caption) {
    setObjectName(QStringLiteral("COptionsDlg"));
    setWindowTitle(QStringLiteral("Options"));
    auto* layout = new QVBoxLayout(this);

    auto* files = Make<QGroupBox>(this, "filesGroup", QStringLiteral("Which files are taken"));
    auto* filesForm = new QFormLayout(files);
    filesForm->addRow(Make<QLabel>(files, "prescribedLists",
                                   QStringLiteral("Usually: %1 (the pictures also to the archive)")
                                       .arg(FromNarrow(Joined(transfer::MoveExtensions())))));
    m_todaysFiles = Make<QCheckBox>(files, "todaysFiles", QStringLiteral("Also take &today's camera files"));
    m_todaysFiles->setToolTip(
        QStringLiteral("HEIC, PNG, the RAW kinds, MP4, MOV, MTS and their .xmp sidecars "
                       "(videos are moved, never archived)"));
    filesForm->addRow(m_todaysFiles);
    m_moveExtensions = Make<QLineEdit>(files, "moveExtensions");
    m_zipExtensions = Make<QLineEdit>(files, "zipExtensions");
    filesForm->addRow(QStringLiteral("&Moved:"), m_moveExtensions);
    filesForm->addRow(QStringLiteral("Sent to the &archive:"), m_zipExtensions);
    layout->addWidget(files);

    m_recurse = Make<QCheckBox>(this, "recurse", QStringLiteral("Look in the card's &subfolders (DCIM)"));
    layout->addWidget(m_recurse);

    auto* date = Make<QGroupBox>(this, "dateGroup", QStringLiteral("Date of Photo:"));
    auto* dateLayout = new QVBoxLayout(date);
    m_dateFromFile = Make<QRadioButton>(date, "dateFromFile", QStringLiteral("from the &file"));
    m_dateFromCapture = Make<QRadioButton>(date, "dateFromCapture",
                                           QStringLiteral("from the &camera's record of when it was taken"));
    dateLayout->addWidget(m_dateFromFile);
    dateLayout->addWidget(m_dateFromCapture);
    layout->addWidget(date);

    m_datedFolders = Make<QCheckBox>(this, "datedFolders", QStringLiteral("Put pictures in &dated folders:"));
    m_folderPattern = Make<QLineEdit>(this, "folderPattern");
    m_folderPattern->setToolTip(
        QStringLiteral("%Y year, %y its last two digits, %m month, %d day, %H %M %S "
                       "hour, minute, second; \"/\" between folders"));
    m_folderExample = Make<QLabel>(this, "folderExample");
    auto* folders = new QFormLayout;
    folders->addRow(m_datedFolders, m_folderPattern);
    folders->addRow(QString(), m_folderExample);
    layout->addLayout(folders);

    m_eject = Make<QCheckBox>(this, "eject", QStringLiteral("&Eject the card when a transfer has gone well"));
    layout->addWidget(m_eject);
    m_compressionFast =
        Make<QCheckBox>(this, "compressionFast",
                        QStringLiteral("Compress archives &quickly (several times faster, a little "
                                       "larger on pictures that compress)"));
    layout->addWidget(m_compressionFast);

    auto* where = new QHBoxLayout;
    auto* path = Make<QLabel>(this, "settingsPath",
                              QStringLiteral("Settings file: %1").arg(FromNarrow(m_settings.Path())));
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* open = Make<QPushButton>(this, "openSettingsFolder", QStringLiteral("Open &Folder"));
    open->setEnabled(!m_settings.Path().empty());
    where->addWidget(path, 1);
    where->addWidget(open);
    layout->addLayout(where);

    auto* buttons = Make<QDialogButtonBox>(this, "buttons", QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &COptionsDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &COptionsDlg::reject);
    connect(open, &QPushButton::clicked, this,
            [this] { m_prompts.OpenFolder(platform::FolderOf(m_settings.Path())); });
    connect(m_todaysFiles, &QCheckBox::clicked, this, &COptionsDlg::OnTodaysFiles);
    connect(m_moveExtensions, &QLineEdit::textEdited, this, &COptionsDlg::ShowTodaysFiles);
    connect(m_zipExtensions, &QLineEdit::textEdited, this, &COptionsDlg::ShowTodaysFiles);
    connect(m_datedFolders, &QCheckBox::toggled, this, [this](bool on) {
        m_folderPattern->setEnabled(on);
        if (on && m_folderPattern->text().isEmpty()) {
            m_folderPattern->setText(QString::fromLatin1(kDefaultPattern));
        }
        ShowFolderExample();
    });
    connect(m_folderPattern, &QLineEdit::textChanged, this, &COptionsDlg::ShowFolderExample);
    Load();
}

// A key that is missing, empty or refused shows what a transfer does without it.
void COptionsDlg::Load() {
    const auto value = [this](const char* key) {
        const std::string stored = m_settings.Read(key);
        return stored == SettingsFile::kMissing ? std::string() : stored;
    };
    transfer::PassOptions options;
    for (const char* key : transfer::kPassSettingKeys) {
        transfer::ApplyPassSetting(key, value(key), options);
    }
    const auto shown = [](const std::vector<std::string>& chosen,
                          std::span<const std::string_view> defaults) {
        std::vector<std::string_view> list(chosen.begin(), chosen.end());
        return FromNarrow(Joined(list.empty() ? defaults : std::span<const std::string_view>(list)));
    };
    m_moveExtensions->setText(shown(options.moveExtensions, transfer::MoveExtensions()));
    m_zipExtensions->setText(shown(options.archiveExtensions, transfer::ArchiveExtensions()));
    m_recurse->setChecked(options.recursive);
    (options.dateSource == transfer::DateSource::Capture ? m_dateFromCapture : m_dateFromFile)
        ->setChecked(true);
    m_folderPattern->setText(FromNarrow(options.folders));
    m_datedFolders->setChecked(!options.folders.empty());
    m_folderPattern->setEnabled(!options.folders.empty());
    m_eject->setChecked(options.eject);
    m_compressionFast->setChecked(options.compression == transfer::Compression::Fast);
    m_moveExtensions->setCursorPosition(0);  // the start of a long list, not its end
    m_zipExtensions->setCursorPosition(0);
    ShowTodaysFiles();
    ShowFolderExample();
}

void COptionsDlg::OnTodaysFiles(bool checked) {
    m_moveExtensions->setText(WithOrWithout(m_moveExtensions->text(), TodaysFor(true), checked));
    m_zipExtensions->setText(WithOrWithout(m_zipExtensions->text(), TodaysFor(false), checked));
}

// Ticked while both lists take all of today's kinds that they may.
void COptionsDlg::ShowTodaysFiles() {
    m_todaysFiles->setChecked(HoldsAll(*m_moveExtensions, TodaysFor(true)) &&
                              HoldsAll(*m_zipExtensions, TodaysFor(false)));
}

void COptionsDlg::ShowFolderExample() {
    const std::string pattern = ToNarrow(m_folderPattern->text());
    if (!m_datedFolders->isChecked()) {
        m_folderExample->setText(QStringLiteral("All files go straight into the destination folder."));
    } else if (const std::string why = transfer::FolderPatternRefusal(pattern); !why.empty()) {
        m_folderExample->setText(QStringLiteral("This pattern can't be used: %1.").arg(FromNarrow(why)));
    } else {
        m_folderExample->setText(
            QStringLiteral("A picture taken now goes into %1/")
                .arg(FromNarrow(transfer::ExpandFolderPattern(pattern, std::time(nullptr)))));
    }
}

SettingsFile::Values COptionsDlg::Values() const {
    const auto text = [](const QLineEdit* edit) { return ToNarrow(edit->text().trimmed()); };
    return {{"moveextensions", text(m_moveExtensions)},
            {"zipextensions", text(m_zipExtensions)},
            {"recurse", m_recurse->isChecked() ? "1" : "0"},
            {"datesource", m_dateFromCapture->isChecked() ? "capture" : "file"},
            {"folders", m_datedFolders->isChecked() ? text(m_folderPattern) : ""},
            {"eject", m_eject->isChecked() ? "1" : "0"},
            {"compression", m_compressionFast->isChecked() ? "fast" : "standard"}};
}

void COptionsDlg::accept() {
    const SettingsFile::Values values = Values();
    std::string why;
    for (const auto& [key, value] : values) {
        transfer::PassOptions scratch;
        if (const std::string refused = transfer::ApplyPassSetting(key, value, scratch); !refused.empty()) {
            why = key + "= can't be \"" + value + "\": " + refused + ".";
            break;
        }
    }
    if (why.empty()) {
        why = transfer::SaveSettings(m_settings, values);
    }
    if (!why.empty()) {
        m_prompts.MessageBox(this, "Nothing was saved. " + why, m_caption, kBoxOk | kBoxIconExclamation);
        return;
    }
    QDialog::accept();
}
