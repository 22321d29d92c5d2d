#include "app/PhotoMoverApp.h"

#include <QApplication>

#include "app/HelpWindow.h"
#include "desktop/DesktopBus.h"
#include "resources/AppResources.h"

CPhotoMoverApp::CPhotoMoverApp(TransferPasses passes, SettingsFile settings, UserPrompts* prompts)
    : m_passes(std::move(passes)), m_settings(std::move(settings)), m_prompts(prompts) {}

CPhotoMoverApp::~CPhotoMoverApp() = default;

bool CPhotoMoverApp::InitInstance() {
    // The desktop matches the program's windows to its entry (tovaro.desktop) and shows the program's icon
    // for every window that has none of its own.
    resources::InitAppResources();
    QGuiApplication::setDesktopFileName(QStringLiteral("tovaro"));
    QApplication::setWindowIcon(resources::AppIcon());
    // The main window's modal run is the program's whole life; there is no application event loop that
    // the last window closing could end.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    auto dlg = std::make_unique<CPhotoMoverDlg>(m_passes, m_settings, m_prompts);  // no parent
    m_disks = desktop::MakeDiskService(/*interactive=*/true);
    m_notifier = desktop::MakeNotifier();
    dlg->SetDesktop({m_disks.get(), m_notifier.get()});
    m_pMainWnd = dlg.get();
    connect(m_pMainWnd, &CPhotoMoverDlg::helpRequested, this, &CPhotoMoverApp::OnHelp);
    connect(m_pMainWnd, &CPhotoMoverDlg::helpCloseRequested, this, &CPhotoMoverApp::CloseHelp);
    // A modal run blocks the window's owner, and the main window has none: the help window must stay
    // usable beside it. (Qt would otherwise block every other window of the program.)
    m_pMainWnd->setWindowModality(Qt::WindowModal);
    // The result doesn't matter: OK never closes the window, so it always ends by cancel.
    m_pMainWnd->exec();
    m_pMainWnd = nullptr;
    dlg.reset();
    return false;
}

QWidget* CPhotoMoverApp::HelpWindow() const {
    return m_help && m_help->isVisible() ? m_help.get() : nullptr;
}

void CPhotoMoverApp::OnHelp() {
    if (!m_help) {
        m_help = std::make_unique<::HelpWindow>();
    }
    if (!m_help->isVisible() && m_pMainWnd != nullptr) {
        m_help->ShowBeside(*m_pMainWnd);
    } else {
        m_help->show();
    }
    m_help->raise();
    m_help->activateWindow();
}

void CPhotoMoverApp::CloseHelp() {
    if (m_help) {
        m_help->close();
        m_help.reset();
    }
}
