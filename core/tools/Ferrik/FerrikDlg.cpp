// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// FerrikDlg: construction, form arrangement and signal wiring.
#include "FerrikDlg.h"
#include "FerMsgHistoryModel.h"
#include "FerrikHistoryFilter.h"
#include "FerrikOptions.h"

#include <QAction>
#include <QFileDialog>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

// The icons are compiled into the static library; its resources must be registered explicitly.
static void initFerrikResources() {
    Q_INIT_RESOURCE(ferrik);
}

FerrikDlg::FerrikDlg(QWidget* parent) : QWidget(parent) {
    initFerrikResources();
    historyModel = new FerMsgHistoryModel;
    historyFilter = new FerrikHistoryFilter(this);
    historyFilter->setSourceModel(historyModel);
    link = std::make_unique<FerrikAgentLink>(*this);
    setupUi(this);
    arrangeSplitters();
    leRealm->addItem(tr("System"));
    teInput->setMainWindow(this);
    show();
    connectSignals();

    vboxLayout->removeWidget(frameFind);
    vboxLayout->addWidget(frameFind);
    frameFind->hide();
    labelReply = new QLabel(this);
    labelReply->setObjectName(QStringLiteral("labelReply"));
    labelReply->setTextInteractionFlags(Qt::TextSelectableByMouse);
    vboxLayout->addWidget(labelReply);
    labelReply->hide();
    labelWrapped->hide();

    // What assistive tools call the panes.
    histInput->setAccessibleName(tr("Sent packets"));
    histOutput->setAccessibleName(tr("Output"));
    histOutput->installEventFilter(this);
    editFind->installEventFilter(this);

    findTimer = new QTimer(this);
    findTimer->setInterval(5000);
    findTimer->setSingleShot(true);
    connect(findTimer, &QTimer::timeout, frameFind, &QWidget::hide);

    queueAction = new QAction(tr("Queue"), this);
    queueAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    queueAction->setShortcutContext(Qt::WindowShortcut);
    connect(queueAction, &QAction::triggered, this, &FerrikDlg::queue);
    addAction(queueAction);

    lstHistory->setModel(historyFilter);
    chooseExportFile = [this] {
        return QFileDialog::getSaveFileName(this, tr("Export history"), QString(),
                                            tr("XML files (*.xml);;All files (*)"));
    };
    chooseImportFile = [this] {
        return QFileDialog::getOpenFileName(this, tr("Import history"), QString(),
                                            tr("XML files (*.xml);;All files (*)"));
    };

    // The arguments of the connection handlers' queued signals.
    qRegisterMetaType<OVL::eid_t>("OVL::eid_t");
    qRegisterMetaType<OVL::OVLRequestErrorData>("OVL::OVLRequestErrorData");

    for (const FerrikOption& option : kFerrikOptions) {
        setOptionValue(*this, option, option.atStart);
    }

    loadSettings();
}

FerrikDlg::~FerrikDlg() {
    // QWidget's destructor closes the window, and the focus leaving an edited field makes it emit
    // (leHost's combo box emits textActivated): no slot of this half-destroyed window may run then.
    for (QObject* child : findChildren<QObject*>()) {
        QObject::disconnect(child, nullptr, this, nullptr);
    }
    saveSettings();
    link.reset();  // closes the connections while the window is whole
    lstHistory->setModel(nullptr);
    historyFilter->setSourceModel(nullptr);
    delete historyModel;
}

// Outer vertical splitter: input area above the transcript splitter (histInput above histOutput);
// the input area itself splits horizontally between the history tree and the editor.
void FerrikDlg::arrangeSplitters() {
    auto* outer = new QSplitter(Qt::Vertical, this);
    outer->addWidget(frmInput);
    auto* transcript = new QSplitter(Qt::Vertical, outer);
    transcript->addWidget(histInput);
    transcript->addWidget(histOutput);
    vboxLayout->addWidget(outer);

    auto* input = new QSplitter(Qt::Horizontal, frmInput);
    // The filter field stands above the tree, both in the splitter's left pane.
    auto* historyPane = new QWidget(input);
    auto* column = new QVBoxLayout(historyPane);
    column->setContentsMargins(0, 0, 0, 0);
    editHistoryFilter = new QLineEdit(historyPane);
    editHistoryFilter->setObjectName(QStringLiteral("editHistoryFilter"));
    editHistoryFilter->setPlaceholderText(tr("Filter"));
    editHistoryFilter->setClearButtonEnabled(true);
    column->addWidget(editHistoryFilter);
    column->addWidget(lstHistory);
    input->addWidget(historyPane);
    QWidget::setTabOrder(btnSend, editHistoryFilter);
    QWidget::setTabOrder(editHistoryFilter, lstHistory);
    input->addWidget(teInput);
    hboxLayout2->insertWidget(0, input);
    frmInput->resize(frmInput->sizeHint());
}

void FerrikDlg::connectSignals() {
    connect(btnConnect, &QPushButton::clicked, this, &FerrikDlg::connectClicked);
    connect(btnSend, &QPushButton::clicked, this, &FerrikDlg::send);
    connect(leHost, &QComboBox::textActivated, this, &FerrikDlg::updateCreds);
    connect(btnRemember, &QPushButton::clicked, this, &FerrikDlg::addToHistory);
    connect(lstHistory, &QAbstractItemView::activated, this, &FerrikDlg::histPop);
    connect(btnEncode, &QPushButton::clicked, teInput, &FerrikTextEditor::base64Encode);
    connect(btnDecode, &QPushButton::clicked, teInput, &FerrikTextEditor::base64Decode);
    connect(btnOptions, &QPushButton::clicked, this, &FerrikDlg::showOptionsDlg);
    connect(toolClose, &QToolButton::clicked, frameFind, &QWidget::hide);
    connect(toolPrevious, &QToolButton::clicked, this, &FerrikDlg::findPrevious);
    connect(toolNext, &QToolButton::clicked, this, &FerrikDlg::findNext);
    connect(editFind, &QLineEdit::returnPressed, this, &FerrikDlg::findNext);
    // Every edit by the user searches incrementally from the current match, both flags false.
    connect(editFind, SIGNAL(textEdited(QString)), this, SLOT(searchOutput(QString)));
    connect(btnGetRealms, &QPushButton::clicked, this, &FerrikDlg::getRealms);
    connect(historyModel, &QAbstractItemModel::dataChanged, this, &FerrikDlg::histroyItemChanged);
    connect(historyModel, &QAbstractItemModel::rowsRemoved, this, &FerrikDlg::histroyItemRemoved);
    connect(editHistoryFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
        historyFilter->setFilterText(text);
        if (!text.isEmpty()) {
            lstHistory->expandAll();  // the matches are entries; show them without a click
        }
    });
    connect(lstHistory->exportAction(), &QAction::triggered, this, [this] {
        const QString path = chooseExportFile();
        if (!path.isEmpty()) {
            exportHistory(path);
        }
    });
    connect(lstHistory->importAction(), &QAction::triggered, this, [this] {
        const QString path = chooseImportFile();
        if (!path.isEmpty()) {
            importHistory(path);
        }
    });
    for (FerrikPacketHistory* pane : {histInput, histOutput}) {
        // A failed save is said where the console says every failure: a red line in histOutput.
        pane->reportSaveFailure = [this](const QString& path, const QString& reason) {
            appendError(tr("could not save %1: %2").arg(path.toHtmlEscaped(), reason.toHtmlEscaped()));
        };
    }
}
