#include "app/PreviewDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "folderpicker/NarrowText.h"

namespace {

// What would become of the file, in the words of the transfer's own report.
std::string WhatHappens(const transfer::TransferItem& item, bool archive) {
    if (item.outcome == transfer::Outcome::Done) {
        return archive ? "archived" : "moved";
    }
    return transfer::OutcomeText(item, archive, /*dryRun=*/true);
}

std::string Files(size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

}  // namespace

PreviewDlg::PreviewDlg(QWidget* parent)
    : QDialog(parent), m_list(new QTreeWidget(this)), m_count(new QLabel(this)) {
    setObjectName(QStringLiteral("preview"));
    setWindowTitle(QStringLiteral("Preview"));
    m_list->setObjectName(QStringLiteral("previewList"));
    m_list->setHeaderLabels(
        {QStringLiteral("Old name"), QStringLiteral("New name"), QStringLiteral("What happens")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);  // a card of thousands of files lists quickly
    m_count->setObjectName(QStringLiteral("previewCount"));
    m_count->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Close, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setObjectName(QStringLiteral("previewOk"));
    connect(buttons, &QDialogButtonBox::accepted, this, &PreviewDlg::runRequested);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(m_count);
    layout->addWidget(buttons);
    resize(640, 420);
}

PreviewDlg::~PreviewDlg() = default;

void PreviewDlg::List(RunRequest request, bool archive) {
    m_run.reset();  // a listing of an older form stops now
    m_archive = archive;
    m_complete = false;
    m_number = request.inputs.numberText;
    m_list->clear();
    m_ok->setEnabled(false);
    m_count->setText(QStringLiteral("Listing..."));
    request.dryRun = true;
    m_run = std::make_unique<TransferRun>(std::move(request));
    // What an earlier listing still sends on its way out is not this one's.
    const unsigned listing = ++m_listing;
    connect(
        m_run.get(), &TransferRun::progress, this,
        [this, listing](qulonglong handled, qulonglong total) {
            if (listing == m_listing) {
                OnProgress(handled, total);
            }
        },
        Qt::QueuedConnection);
    connect(
        m_run.get(), &TransferRun::finished, this,
        [this, listing] {
            if (listing == m_listing) {
                OnListed();
            }
        },
        Qt::QueuedConnection);
    m_run->Start();
}

void PreviewDlg::OnProgress(qulonglong handled, qulonglong total) {
    if (m_run != nullptr && !m_complete) {
        m_count->setText(QStringLiteral("Listing... %1 of %2").arg(handled).arg(total));
    }
}

void PreviewDlg::OnListed() {
    if (m_run == nullptr) {
        return;
    }
    const transfer::TransferReport report = m_run->Report();
    m_run.reset();
    m_listed.clear();
    QList<QTreeWidgetItem*> rows;
    for (const transfer::TransferItem& item : report.items) {
        m_listed.insert(item.oldName);
        rows.append(new QTreeWidgetItem({FromNarrow(item.oldName), FromNarrow(item.NewPath()),
                                         FromNarrow(WhatHappens(item, m_archive))}));
    }
    m_list->addTopLevelItems(rows);
    m_list->header()->resizeSections(QHeaderView::ResizeToContents);
    const std::string verb = m_archive ? " would be archived." : " would be moved.";
    std::string count = report.problem.empty()
                            ? std::to_string(report.Moved()) + " of " + Files(report.Taken()) + verb
                            : "Nothing" + verb.substr(0, verb.size() - 1) + ": " + report.problem + ".";
    if (report.Failed() > 0) {
        count += " " + std::to_string(report.Failed()) + " would stay.";
    }
    for (const std::string& more : {transfer::AlreadyThereText(report), transfer::LeftBehindText(report)}) {
        count += more.empty() ? "" : " " + more + ".";
    }
    count += report.notice.empty() ? "" : " " + report.notice;
    m_count->setText(FromNarrow(count));
    m_complete = true;
    m_ok->setEnabled(report.problem.empty());
}
