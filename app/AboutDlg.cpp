#include "app/AboutDlg.h"

#include <QAbstractButton>

#include "app/DialogForm.h"
#include "resources/Forms.h"
#include "resources/ResourceIds.h"

// Everything the box shows comes from its form; Esc and the close button are the dialog's own cancel.
CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CAboutDlg"));
    m_form = std::make_unique<DialogForm>(this, resources::AboutForm());
    if (auto* ok = qobject_cast<QAbstractButton*>(m_form->Item(IDOK))) {
        connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
    }
}

CAboutDlg::~CAboutDlg() = default;
