#include "app/wMain.h"

#include "app/ActionButton.h"
#include "app/ActionImages.h"
#include "app/ApplicationEvents.h"
#include "app/MessageBox.h"
#include "app/WindowClock.h"
#include "catalogue/DownloadLocation.h"
#include "catalogue/HTTPClient.h"
#include "catalogue/VersionInfo.h"
#include "common/ErrorText.h"
#include "common/Exceptions.h"
#include "common/StrUtils.h"
#include "package/UpgradeFile.h"
#include "platform/Clock.h"
#include "platform/DriveList.h"
#include "probe/QV58LinkConfig.h"
#include "upgrade/CatalogueEntries.h"
#include "upgrade/Package.h"
#include "upgrade/ProbeScan.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QBuffer>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextCursor>
#include <QTimer>

namespace {

QPlainTextEdit *makeTextBox(QWidget *parent, const char *name)
{
    auto *box = new QPlainTextEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Enter breaks the line; Tab moves on to the next control.
    box->setTabChangesFocus(true);
    return box;
}

QPushButton *makeButton(QWidget *parent, const char *name, QAction *action)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setIconSize(QSize(16, 16));
    linkButtonToAction(button, action);
    return button;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// A package download as the window shows it: the engine's announce line; the
// progress lines are those of the window's own client handlers, which write
// only while a run is on and show the length as the log always has.
class TWindowDownload final : public IUpgradeReport
{
public:
    explicit TWindowDownload(TfrmMain &window)
        : FWindow(window)
    {
    }

    void addLog(const QString &text, bool replaceLast) override
    {
        if (!replaceLast)
            FWindow.addLog(text, false);
    }

private:
    TfrmMain &FWindow;
};

} // namespace

TfrmMain::TfrmMain(QWidget *parent)
    : QWidget(parent)
{
    buildComponents();

    FHTTP = std::make_unique<THTTPClient>();
    FHTTP->OnWorkBegin = [this](THTTPClient &, TWorkMode, qint64 AWorkCountMax) { FHTTPWorkBegin(AWorkCountMax); };
    FHTTP->OnWork = [this](THTTPClient &, TWorkMode, qint64 AWorkCount) { FHTTPWork(AWorkCount); };
    // A download blocks the thread: the window keeps answering meanwhile.
    FHTTP->OnIdle = [this](THTTPClient &) {
        if (isVisible())
            TInputBlocker::processPending();
    };

    ApplicationEvents1 = new TApplicationEvents(this);
    ApplicationEvents1->setObjectName(QStringLiteral("ApplicationEvents1"));
    ApplicationEvents1->OnException = [this](QObject *Sender, const std::exception &E) {
        ApplicationEvents1Exception(Sender, E);
    };

    // Enabled states follow the fields whenever the application goes idle.
    connect(QAbstractEventDispatcher::instance(thread()), &QAbstractEventDispatcher::aboutToBlock, this,
            [this] { guarded(this, [this] { updateActions(); }); });

    guarded(this, [this] { FormCreate(); });
    updateActions();
}

TfrmMain::~TfrmMain()
{
    FormDestroy();
}

void TfrmMain::buildComponents()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("QV58-Link Upgrade V1.01"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(562, 497);

    QFont font(QStringLiteral("Courier New"));
    font.setPixelSize(13);
    font.setStyleHint(QFont::TypeWriter);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    setPalette(palette);

    imgs = makeActionImages();
    setWindowIcon(makeApplicationIcon());

    actUpgrade = new QAction(QStringLiteral("&Upgrade"), this);
    actUpgrade->setObjectName(QStringLiteral("actUpgrade"));
    actUpgrade->setIcon(imgs.at(0));
    actClose = new QAction(QStringLiteral("&Close"), this);
    actClose->setObjectName(QStringLiteral("actClose"));
    actRefersh = new QAction(this);
    actRefersh->setObjectName(QStringLiteral("actRefersh"));
    actRefersh->setIcon(imgs.at(1));

    FTimer = new QTimer(this);
    FTimer->setObjectName(QStringLiteral("FTimer"));
    FTimer->setInterval(1000);
    connect(FTimer, &QTimer::timeout, this, [this] { timerTick(); });

    // Created in tab order, so the focus chain needs no reordering.
    GroupBox1 = new QGroupBox(QStringLiteral(" Choose Version "), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(24, 24, 513, 153);
    Label2 = makeLabel(GroupBox1, "Label2", QStringLiteral("Version"));
    Label2->setGeometry(17, 25, 56, 16);
    Label3 = makeLabel(GroupBox1, "Label3", QStringLiteral("Descript"));
    Label3->setGeometry(9, 54, 64, 16);
    cmbVersions = new QComboBox(GroupBox1);
    cmbVersions->setObjectName(QStringLiteral("cmbVersions"));
    cmbVersions->setEditable(false);
    cmbVersions->setGeometry(79, 22, 186, cmbVersions->sizeHint().height());
    connect(cmbVersions, &QComboBox::currentIndexChanged, this,
            [this] { guarded(this, [this] { cmbVersionsPropertiesChange(); }); });
    txtDescript = makeTextBox(GroupBox1, "txtDescript");
    txtDescript->setReadOnly(true);
    txtDescript->setGeometry(79, 54, 418, 83);
    cxButton2 = makeButton(GroupBox1, "cxButton2", actUpgrade);
    cxButton2->setGeometry(402, 23, 95, 25);
    // actUpgrade has no execute handler: the button's own click starts the run.
    connect(cxButton2, &QPushButton::clicked, this, [this] {
        guarded(this, [this] {
            updateAction(actUpgrade);
            if (actUpgrade->isEnabled())
                cxButton2Click();
        });
    });
    cxButton3 = makeButton(GroupBox1, "cxButton3", actRefersh);
    cxButton3->setGeometry(263, 22, 24, 24);
    cxButton3->setFocusPolicy(Qt::NoFocus);
    connect(cxButton3, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { executeAction(actRefersh); }); });

    GroupBox2 = new QGroupBox(QStringLiteral(" Upgrade Logs "), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(24, 192, 513, 241);
    logs = makeTextBox(GroupBox2, "logs");
    logs->setFont(font);
    logs->setGeometry(17, 25, 480, 202);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(-19, 446, 597, 2);

    cxButton1 = makeButton(this, "cxButton1", actClose);
    cxButton1->setGeometry(442, 460, 95, 25);
    connect(cxButton1, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { executeAction(actClose); }); });

    setTabOrder(cmbVersions, txtDescript);
    setTabOrder(txtDescript, cxButton2);
    setTabOrder(cxButton2, cxButton3);
    setTabOrder(cxButton3, logs);
    setTabOrder(logs, cxButton1);

    // The frame's size is only known once the window is up, so it is the client area that is centred.
    if (const QScreen *screen = this->screen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
}

void TfrmMain::FormCreate()
{
    createObjects();
    executeAction(actRefersh);
}

void TfrmMain::FormDestroy()
{
    freeObjects();
}

void TfrmMain::createObjects()
{
    FFuncs = {[this] { return stepDownload(); }, [this] { return stepValidate(); },
              [this] { return stepTargetInfo(); }, [this] { return stepUpgrade(); }, TStepFunc()};
    FQV58LinkConfig = std::make_unique<TQV58LinkConfig>();
    FFileList.clear();
    FMemoryStream = std::make_unique<QBuffer>();
    FMemoryStream->open(QIODevice::ReadWrite);
    FFileSize = 0;
    FRunning = false;
    FUpgradeFileName.clear();
}

void TfrmMain::freeObjects()
{
    FPackage.reset();
    FMemoryStream.reset();
    FFileList.clear();
    FQV58LinkConfig.reset();
}

bool TfrmMain::executeAction(QAction *action)
{
    updateAction(action);
    if (!action->isEnabled())
        return false;
    if (action == actClose)
        actCloseExecute();
    else if (action == actRefersh)
        whileBusy([this] { actRefershExecute(); });
    return true;
}

void TfrmMain::updateActions()
{
    actUpgradeUpdate();
    actCloseUpdate();
    actRefershUpdate();
}

void TfrmMain::updateAction(QAction *action)
{
    if (action == actUpgrade)
        actUpgradeUpdate();
    else if (action == actClose)
        actCloseUpdate();
    else if (action == actRefersh)
        actRefershUpdate();
}

void TfrmMain::actUpgradeUpdate()
{
    actUpgrade->setEnabled(!FRunning && !FUpgradeFileName.isEmpty());
}

void TfrmMain::actCloseUpdate()
{
    actClose->setEnabled(!FRunning);
}

void TfrmMain::actRefershUpdate()
{
    actRefersh->setEnabled(!FRunning);
}

void TfrmMain::actCloseExecute()
{
    close();
}

void TfrmMain::actRefershExecute()
{
    loadProbeDetails();
    loadFileList();
}

void TfrmMain::loadProbeDetails()
{
    loadFirstProbe(driveList(), *FQV58LinkConfig);
}

void TfrmMain::loadFileList()
{
    TCatalogue catalogue(*FHTTP);
    FFileList = catalogue.lines();
    cmbVersions->clear();
    fillVersions(FQV58LinkConfig->HICID(), FFileList);
    // Filling an empty list already selects entry 0 and runs the change handler.
    if (cmbVersions->count() > 0)
        cmbVersions->setCurrentIndex(0);
}

void TfrmMain::fillVersions(const QString &hicId, const QStringList &lines)
{
    cmbVersions->addItems(versionsFor(hicId, lines));
}

void TfrmMain::cmbVersionsPropertiesChange()
{
    if (cmbVersions->currentIndex() < 0)
        return;
    const int index = matchingLineIndex(cmbVersions->currentIndex(), FFileList, FQV58LinkConfig->HICID());
    // The list can still show an earlier probe's versions after a reload that
    // failed in the download; there is no line to take then.
    if (index < 0)
        return;
    const TVersionInfo info = parseVersionInfo(FFileList.at(index));
    txtDescript->setPlainText(info.descript);
    setUpgradeFileName(packageFileName(info));
}

void TfrmMain::cxButton2Click()
{
    logs->clear();
    setRunning(true);
    setStepIndex(0);
    FTimer->start();
}

void TfrmMain::FTimerTimer()
{
    FTimer->stop();
    if (FStepIndex < 0 || FStepIndex >= StepCount || !FFuncs[FStepIndex])
        throw ERangeError();
    FFuncs[FStepIndex]();
    setStepIndex(FStepIndex + 1);
    if (FStepIndex != StepCount)
        FTimer->start();
    setRunning(FStepIndex != StepCount);
}

void TfrmMain::timerTick()
{
    whileBusy([this] {
        try {
            FTimerTimer();
        } catch (...) {
            // A failed step ends the run: report it first (actions stay locked
            // while the box is up), then give Upgrade, Refresh and Close back.
            TApplicationEvents::handleException(this, std::current_exception());
            setRunning(false);
        }
    });
}

template <typename F> void TfrmMain::whileBusy(F &&work)
{
    ++FBusy;
    try {
        work();
    } catch (...) {
        --FBusy;
        throw;
    }
    --FBusy;
    if (FBusy == 0 && FCloseRequested) {
        FCloseRequested = false;
        close();
    }
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    if (FBusy > 0) {
        FCloseRequested = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

TUpgradeEngine TfrmMain::engine()
{
    return TUpgradeEngine(*this, driveList(), Clock::instance());
}

bool TfrmMain::confirmOlder(const QString &question)
{
    return askYesNo(nullptr, QStringLiteral("Message"), question) == rsYes;
}

bool TfrmMain::stepDownload()
{
    FPackage.reset();
    TWindowDownload report(*this);
    downloadPackage(*FHTTP, upgradeFileUrl(FUpgradeFileName), *FMemoryStream, report);
    return true;
}

void TfrmMain::FHTTPWorkBegin(qint64 AWorkCountMax)
{
    if (!FRunning)
        return;
    FFileSize = static_cast<qint32>(static_cast<quint32>(static_cast<quint64>(AWorkCountMax)));
    addLog(downloadText::begin(FFileSize), true);
    repaintLog();
}

void TfrmMain::FHTTPWork(qint64 AWorkCount)
{
    if (!FRunning)
        return;
    addLog(downloadText::progress(AWorkCount, FFileSize), true);
    repaintLog();
}

void TfrmMain::repaintLog()
{
    // The download blocks the event loop; paint the log now so the count is
    // seen to grow, without handing the user's input to the window meanwhile.
    if (logs->isVisible())
        logs->repaint();
}

bool TfrmMain::stepValidate()
{
    // A refused package leaves none behind from an earlier run.
    FPackage.reset();
    FPackage = validatePackage(FMemoryStream->data(), *this);
    return true;
}

bool TfrmMain::stepTargetInfo()
{
    engine().logTargetInfo(*FQV58LinkConfig);
    return true;
}

bool TfrmMain::stepUpgrade()
{
    // The package step 1 accepted; a step run on its own takes the buffer as it is.
    const TPackage package = FPackage ? FPackage : validatePackage(FMemoryStream->data(), *this);
    return engine().upgrade(package->file(), *FQV58LinkConfig);
}

void TfrmMain::logPackageInfo(const TUpgradeFile &package)
{
    engine().logPackageInfo(package);
}

bool TfrmMain::checkPackage(const TUpgradeFile &package, const QString &probePartName, const QString &probeVersion)
{
    return engine().checkPackage(package, probePartName, probeVersion);
}

bool TfrmMain::flashProbe(const TUpgradeFile &package)
{
    return engine().flashProbe(package);
}

void TfrmMain::ApplicationEvents1Exception(QObject *Sender, const std::exception &E)
{
    Q_UNUSED(Sender);
    QString text = userMessageOf(E);
    if (text.contains(QStringLiteral("Host not found.")))
        text = QStringLiteral("Host not found, please check you network!");
    else if (text.contains(QStringLiteral("404")))
        text = QStringLiteral("Resource file not exit, please check you network");
    showWarning(this, QStringLiteral("Message"), text);
}

void TfrmMain::addLog(const QString &text, bool replaceLast)
{
    // Lines as the user sees them: a line break at the very end opens no line,
    // so typed text ending in Enter keeps its last real line as the last one.
    const QString all = logs->toPlainText();
    const qsizetype bodyEnd = all.endsWith(QLatin1Char('\n')) ? all.size() - 1 : all.size();
    const bool hasLines = !all.isEmpty();

    QTextCursor cursor(logs->document());
    if (replaceLast && hasLines) {
        const qsizetype lastLine = bodyEnd == 0 ? 0 : all.lastIndexOf(QLatin1Char('\n'), bodyEnd - 1) + 1;
        cursor.setPosition(static_cast<int>(lastLine));
        cursor.setPosition(static_cast<int>(bodyEnd), QTextCursor::KeepAnchor);
        cursor.insertText(text);
    } else if (hasLines) {
        cursor.setPosition(static_cast<int>(bodyEnd));
        cursor.insertText(QLatin1Char('\n') + text);
    } else {
        cursor.insertText(text);
    }
    // Keep the newest line in view: the box has no scroll bars.
    logs->setTextCursor(cursor);
    logs->ensureCursorVisible();
}

void TfrmMain::setRunning(bool value)
{
    FRunning = value;
}

void TfrmMain::setStepIndex(int value)
{
    FStepIndex = value;
}

void TfrmMain::setUpgradeFileName(const QString &value)
{
    FUpgradeFileName = value;
}

void TfrmMain::setFunc(int slot, TStepFunc func)
{
    FFuncs.at(static_cast<std::size_t>(slot)) = std::move(func);
}
