// One transfer pass on a thread of its own, so that the window keeps painting and answering the desktop
// while files are moved. The pass gets copies of everything it reads before it starts and never touches a
// widget; what it tells on the way comes back to the window's thread as queued signals.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "settings/SettingsFile.h"
#include "transfer/CardEject.h"
#include "transfer/NamingRules.h"
#include "transfer/TransferReport.h"

// The two passes the window can run, given to it by the program's start-up (transfer::MovePass and
// transfer::ArchivePass), so that the window itself depends on neither.
struct TransferPasses {
    using Pass = std::function<transfer::TransferReport(
        const std::string& fromDir, const std::string& toDir, transfer::NameOption option,
        transfer::NamingInputs& inputs, const SettingsFile& settings, const transfer::PassOptions& options)>;
    Pass move;     // OK without "Send Files To Zip"
    Pass archive;  // OK with "Send Files To Zip"
};

// What one pass is run with, taken from the form as OK was pressed.
struct RunRequest {
    TransferPasses::Pass pass;  // none: a pass that takes no file
    std::string fromDir, toDir;
    transfer::NameOption option = transfer::kNameNothing;
    transfer::PlainNamingInputs inputs;
    SettingsFile settings;
    bool numberFromSavedCounter = false;              // see transfer::PassOptions
    bool dryRun = false;                              // list what the pass would do, and change nothing
    std::optional<std::set<std::string>> onlyListed;  // see transfer::PassOptions; none: every file
    transfer::DiskService* disks = nullptr;  // ejects the card after the pass, when the settings say so
};

class TransferRun : public QObject {
    Q_OBJECT
  public:
    explicit TransferRun(RunRequest request);
    // Asks the pass to stop and waits for it.
    ~TransferRun() override;
    TransferRun(const TransferRun&) = delete;
    TransferRun& operator=(const TransferRun&) = delete;

    // Runs the pass. Connect to the signals first.
    void Start();
    // Asks the pass to stop after the file in hand; finished() follows as usual.
    void Cancel() { m_cancel = true; }
    bool Cancelled() const { return m_cancel; }
    // What the pass did; complete once finished() has been received.
    const transfer::TransferReport& Report() const { return m_report; }

  signals:
    void progress(qulonglong handled, qulonglong total);
    void numberChanged(const QString& text);  // the running number the next file will get
    void finished();

  private:
    void Run();

    RunRequest m_request;
    transfer::TransferReport m_report;
    transfer::CancelFlag m_cancel{false};
    std::thread m_thread;
};
