#pragma once

#include "upgrade/UpgradeEngine.h"

#include <QList>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <exception>
#include <functional>
#include <memory>

class QAction;
class QBuffer;
class QCloseEvent;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TApplicationEvents;
class THTTPClient;
class TQV58LinkConfig;
class TUpgradeFile;
class TUpgradePackage;

// The tool's only window: version chooser, log, the three actions, and the
// state of an upgrade run, which its timer drives one step per tick. The
// steps themselves are the upgrade engine's, reporting back here.
class TfrmMain : public QWidget, private IUpgradeReport
{
    Q_OBJECT

public:
    using TStepFunc = std::function<bool()>;
    using TStepFuncs = std::array<TStepFunc, 5>;
    static constexpr int StepCount = 4;

    // Builds the components, then runs FormCreate; an error it raises is shown
    // in a box owned by this (still hidden) window and the window stays usable.
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    void FormCreate();
    void FormDestroy();
    void createObjects();
    void freeObjects();

    // Evaluates the action's update rule and runs its execute handler when the
    // action is then enabled. Returns whether it ran.
    bool executeAction(QAction *action);

    void actCloseExecute();
    void actRefershExecute();
    void cxButton2Click();
    void FTimerTimer();
    void cmbVersionsPropertiesChange();
    void ApplicationEvents1Exception(QObject *Sender, const std::exception &E);
    void FHTTPWorkBegin(qint64 AWorkCountMax);
    void FHTTPWork(qint64 AWorkCount);

    void loadProbeDetails();
    void loadFileList();
    void fillVersions(const QString &hicId, const QStringList &lines);
    bool stepDownload();
    bool stepValidate();
    bool stepTargetInfo();
    bool stepUpgrade();

    void logPackageInfo(const TUpgradeFile &package);
    bool checkPackage(const TUpgradeFile &package, const QString &probePartName, const QString &probeVersion);
    bool flashProbe(const TUpgradeFile &package);

    // Appends a line to the log; with replaceLast, first removes the last line.
    void addLog(const QString &text, bool replaceLast = false) override;

    void setRunning(bool value);
    void setStepIndex(int value);
    void setUpgradeFileName(const QString &value);

    TQV58LinkConfig *qv58LinkConfig() const { return FQV58LinkConfig.get(); }
    const QStringList &fileList() const { return FFileList; }
    QBuffer *memoryStream() const { return FMemoryStream.get(); }
    int fileSize() const { return FFileSize; }
    const TStepFuncs &funcs() const { return FFuncs; }
    bool running() const { return FRunning; }
    int stepIndex() const { return FStepIndex; }
    QString upgradeFileName() const { return FUpgradeFileName; }
    THTTPClient &http() const { return *FHTTP; }

    // Replaces one slot of the step table (tests run their own steps through it).
    void setFunc(int slot, TStepFunc func);

protected:
    // A close request while a step or an action runs is kept until it has
    // returned, so an image is never cut off halfway.
    void closeEvent(QCloseEvent *event) override;

private:
    bool confirmOlder(const QString &question) override;
    // An engine over the drives and the clock installed now.
    TUpgradeEngine engine();
    // Runs work with a close request held back until it has returned.
    template <typename F> void whileBusy(F &&work);
    void buildComponents();
    void updateActions();
    void updateAction(QAction *action);
    void actUpgradeUpdate();
    void actCloseUpdate();
    void actRefershUpdate();
    void timerTick();
    void repaintLog();

    std::unique_ptr<TQV58LinkConfig> FQV58LinkConfig;
    QStringList FFileList;
    std::unique_ptr<QBuffer> FMemoryStream;
    int FFileSize = 0;
    TStepFuncs FFuncs;
    bool FRunning = false;
    int FStepIndex = 0;
    QString FUpgradeFileName;
    // The package step 1 accepted, deciphered once for the steps after it.
    std::shared_ptr<const TUpgradePackage> FPackage;
    int FBusy = 0;
    bool FCloseRequested = false;

    QGroupBox *GroupBox1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QComboBox *cmbVersions = nullptr;
    QPlainTextEdit *txtDescript = nullptr;
    QPushButton *cxButton2 = nullptr;
    QPushButton *cxButton3 = nullptr;
    QGroupBox *GroupBox2 = nullptr;
    QPlainTextEdit *logs = nullptr;
    QFrame *Bevel1 = nullptr;
    QPushButton *cxButton1 = nullptr;
    QAction *actUpgrade = nullptr;
    QAction *actClose = nullptr;
    QAction *actRefersh = nullptr;
    QList<QPixmap> imgs;
    QTimer *FTimer = nullptr;
    std::unique_ptr<THTTPClient> FHTTP;
    TApplicationEvents *ApplicationEvents1 = nullptr;
};
