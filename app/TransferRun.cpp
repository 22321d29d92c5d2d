#include "app/TransferRun.h"

#include "folderpicker/NarrowText.h"
#include "transfer/ImportLog.h"
#include "transfer/PassSettings.h"

namespace {

// The form's naming values as they were when OK was pressed; the running number goes back to the window.
class RunInputs final : public transfer::PlainNamingInputs {
  public:
    RunInputs(const transfer::PlainNamingInputs& values, TransferRun& run)
        : PlainNamingInputs(values), m_run(run) {}
    void SetNumberText(const std::string& value) override {
        numberText = value;
        emit m_run.numberChanged(FromNarrow(value));
    }

  private:
    TransferRun& m_run;
};

}  // namespace

TransferRun::TransferRun(RunRequest request) : m_request(std::move(request)) {}

TransferRun::~TransferRun() {
    m_cancel = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void TransferRun::Start() {
    m_thread = std::thread([this] { Run(); });
}

void TransferRun::Run() {
    if (m_request.pass) {
        RunInputs inputs(m_request.inputs, *this);
        transfer::PassOptions options;
        options.cancel = &m_cancel;
        options.numberFromSavedCounter = m_request.numberFromSavedCounter;
        // The settings file may choose the extensions, the walk of subfolders and the capture date.
        m_report.problem = transfer::ReadPassSettings(m_request.settings, options);
        if (!m_report.problem.empty()) {
            emit finished();
            return;
        }
        options.dryRun = m_request.dryRun;
        options.onlyListed = m_request.onlyListed ? &*m_request.onlyListed : nullptr;
        // What the pass does goes into the import log, so that it can be undone: without one it does not run.
        platform::Result<transfer::ImportLog> log = platform::Failure{};
        if (!options.dryRun) {
            log = transfer::ImportLog::Open(transfer::ImportLogFolder());
        }
        if (!log && !options.dryRun) {
            m_report.problem = transfer::LogProblem(log.Error());
            emit finished();
            return;
        }
        options.log = log ? &*log : nullptr;
        options.onProgress = [this](size_t handled, size_t total) { emit progress(handled, total); };
        transfer::DriveUse drive(m_request.fromDir);
        m_report = m_request.pass(m_request.fromDir, m_request.toDir, m_request.option, inputs,
                                  m_request.settings, options);
        m_report.card = transfer::EjectCard(m_report, options, drive, m_request.disks);
    }
    emit finished();
}
