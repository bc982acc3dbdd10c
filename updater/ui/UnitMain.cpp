// UnitMain.cpp: the launcher's main window and the program start.
#include "updater/ui/UnitMain.h"

#include "platform/Convert.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Http.h"
#include "platform/Path.h"
#include "platform/Shell.h"
#include "platform/Thread.h"
#include "updater/engine/Misc.h"
#include "updater/settings/ClientSettings.h"
#include "updater/ui/BarGauge.h"
#include "updater/ui/Frm2.h"
#include "updater/ui/GuiDispatcher.h"
#include "updater/ui/ImageButton.h"
#include "updater/ui/Messages.h"
#include "updater/ui/Skin.h"
#include "updater/ui/WindowShape.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWebEngineView>
#include <QWindow>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef VELMORAN_VERSION
#define VELMORAN_VERSION "0"
#endif

namespace velmoran {

namespace {

std::atomic<int> gRunsUnderWay{0};

// The run's host: passes each notification on to the window while it is open. Once the
// window has closed (or is gone) every notification fails, which ends the run quietly, so
// nothing reaches a closed window or its released settings. Used on the window's thread
// only, through the dispatcher.
class TWindowHost : public IUpdateHost {
public:
    explicit TWindowHost(TFMain& window) : window_(&window) {}

    void ShowStatus(const std::string& text) override { Window().ShowStatus(text); }
    void SetGaugeMax(int kind, std::int64_t maximum) override {
        Window().SetGaugeMax(kind, maximum);
    }
    void SetFileProgress(std::int64_t position) override { Window().SetFileProgress(position); }
    void SetTotalProgress(std::int64_t position) override { Window().SetTotalProgress(position); }
    void LockButtons() override { Window().LockButtons(); }
    void UnlockButtons() override {
        Window().UnlockButtons();
        unlocked_ = true;
    }
    void StoreRevision(const std::string& revisionText) override {
        Window().StoreRevision(revisionText);
    }

    // A run that ends without its UnlockButtons (an error ended it early) would leave the
    // player without the play and update buttons until the program ends.
    void UnlockIfStillLocked() {
        if (!unlocked_) {
            UnlockButtons();
        }
    }

private:
    TFMain& Window() {
        if (!window_ || window_->IsClosed()) {
            throw platform::EDispatcherClosed();
        }
        return *window_;
    }

    QPointer<TFMain> window_;
    bool unlocked_ = false;
};

// Lets the host be built before the thread that refers to it.
struct THostHolder {
    explicit THostHolder(TFMain& window) : host(window) {}
    TWindowHost host;
};

// An update run of the window: frees itself when it ends, and owns its host.
class TLauncherRun : private THostHolder, public GFilesThread {
public:
    explicit TLauncherRun(TFMain& window) : THostHolder(window), GFilesThread(host) {
        ++gRunsUnderWay;
        FreeOnTerminate = true;
        OnTerminate = [this](platform::Thread&) { host.UnlockIfStillLocked(); };
    }
    ~TLauncherRun() override { --gRunsUnderWay; }
};

QFont PixelFont(const QFont& base, int pixels, bool bold) {
    QFont font = base;
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int left, int top) {
    auto* label = new QLabel(text, parent);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->move(left, top);
    return label;
}

} // namespace

int UpdateRunsUnderWay() {
    return gRunsUnderWay.load();
}

TFMain::TFMain(QWidget* parent) : TDraggableForm(parent) {
    setObjectName(QStringLiteral("FMain"));
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    setFixedSize(955, 520);
    dispatcher_ = std::make_shared<TGuiDispatcher>();
    platform::InstallDispatcher(dispatcher_);
    skinFolder_ = SkinFolderOf(platform::GetCurrentDir() + platform::PathDelimiter);
    CreateControls();

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    Timer1->setSingleShot(false);
    connect(Timer1, &QTimer::timeout, this, [this] { RunHandler([this] { Timer1Timer(); }); });
    Timer1->start();

    RunHandler([this] { FormCreate(); });

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desk = screen->availableGeometry();
        move(desk.center() - QPoint(width() / 2, height() / 2));
    }
}

TFMain::~TFMain() {
    dispatcher_->Shutdown();
    if (platform::InstalledDispatcher() == dispatcher_) {
        platform::InstallDispatcher(nullptr);
    }
}

void TFMain::CreateControls() {
    const QFont base = PixelFont(font(), 11, false);
    setFont(base);

    Image1 = new QLabel(this);
    Image1->setGeometry(0, 0, 955, 520);
    Image1->setPixmap(LoadSkinPicture(skinFolder_, "background.png"));
    Image1->hide();

    Panel1 = new QWidget(this);
    Panel1->setGeometry(29, 32, 609, 457);
    Panel1->hide();
    WebBrowser1 = new QWebEngineView(Panel1);
    WebBrowser1->setGeometry(0, 0, 609, 457);
    WebBrowser1->setFocusPolicy(Qt::NoFocus);
    connect(WebBrowser1, &QWebEngineView::loadFinished, this,
            [this](bool) { RunHandler([this] { WebBrowser1NavigateComplete2(); }); });

    Image2 = new QLabel(this);
    Image2->setGeometry(152, 84, 45, 173);
    Image2->hide();
    Image3 = new QLabel(this);
    Image3->setGeometry(288, 208, 384, 81);
    Image3->hide();
    Image4 = new QLabel(this);
    Image4->setGeometry(464, 377, 73, 64);
    Image4->hide();

    struct ButtonLayout {
        TImageButton*& button;
        const char* picture; // the pictures are PICTURE_normal.png, _hover and _pressed
        QRect place;
        void (TFMain::*click)();
    };
    const ButtonLayout buttons[] = {
        {ImgBtn1, "play", QRect(700, 158, 190, 45), &TFMain::ImgBtn1Click},
        {ImgBtn2, "update", QRect(700, 216, 190, 45), &TFMain::ImgBtn2Click},
        {ImgBtn4, "quit", QRect(700, 274, 190, 45), &TFMain::ImgBtn4Click},
        {ImgBtn3, "close", QRect(536, 34, 40, 70), &TFMain::ImgBtn3Click},
        {ImgBtn5, "settings", QRect(35, 58, 52, 15), &TFMain::ImgBtn5Click},
    };
    for (const ButtonLayout& layout : buttons) {
        layout.button = new TImageButton(this);
        layout.button->setGeometry(layout.place);
        const std::string name = layout.picture;
        layout.button->SetPictures(LoadSkinPicture(skinFolder_, (name + "_normal.png").c_str()),
                                   LoadSkinPicture(skinFolder_, (name + "_hover.png").c_str()),
                                   LoadSkinPicture(skinFolder_, (name + "_pressed.png").c_str()));
        const auto click = layout.click;
        layout.button->OnClick = [this, click] { RunHandler([this, click] { (this->*click)(); }); };
    }
    ImgBtn3->SetStretch(true);
    ImgBtn3->hide();
    ImgBtn5->hide();
    // Hidden until the first update run gives the buttons back, so that no press can start
    // a second run before the automatic one has begun.
    ImgBtn2->hide();

    const QColor heading(222, 200, 150);
    Label1 = MakeLabel(this, QString::fromUtf8("Stahuje se soubor"), 752, 328);
    Label1->setAlignment(Qt::AlignHCenter);
    Label2 = MakeLabel(this, QString::fromUtf8("Celkový průběh"), 752, 372);
    Label2->setAlignment(Qt::AlignHCenter);
    Label2->setFont(PixelFont(base, 11, true));
    for (QLabel* label : {Label1, Label2}) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, heading);
        label->setPalette(palette);
        label->adjustSize();
    }

    Gauge1 = new TBarGauge(this);
    Gauge1->setGeometry(664, 348, 257, 17);
    Gauge1->SetColors(Qt::black, QColor(128, 0, 0), QColor(192, 192, 192));
    Gauge2 = new TBarGauge(this);
    Gauge2->setGeometry(664, 391, 257, 17);
    Gauge2->SetColors(Qt::black, QColor(128, 128, 0), QColor(192, 192, 192));

    Label3 = MakeLabel(this, QStringLiteral("... Loading ..."), 656, 408);
    Label3->setFixedSize(273, 25);
    Label3->setAlignment(Qt::AlignCenter);
    QFont status = base;
    status.setFamilies({QStringLiteral("Comic Sans MS"), QStringLiteral("DejaVu Sans")});
    status.setPixelSize(13);
    Label3->setFont(status);
    QPalette statusPalette = Label3->palette();
    statusPalette.setColor(QPalette::WindowText, Qt::black);
    Label3->setPalette(statusPalette);

    Label4 = MakeLabel(
        this, QStringLiteral("Velmoran launcher\nversion ") + QLatin1String(VELMORAN_VERSION), 824,
        440);
    Label4->setFont(PixelFont(base, 10, false));
    QPalette creditPalette = Label4->palette();
    creditPalette.setColor(QPalette::WindowText, QColor(150, 140, 122));
    Label4->setPalette(creditPalette);
    Label4->adjustSize();
}

void TFMain::FormCreate() {
    ClientSettings = std::make_unique<TStringList>();
    const bool found = ReadClientSettings(*ClientSettings);
    if (found && (*ClientSettings)[csInstalled] == "0") {
        // Written before the shortcut is tried, so that a failed shortcut is not retried
        // on every start.
        WriteInstalled(*ClientSettings);
        CreateDesktopShortcut((*ClientSettings)[csLinkName], (*ClientSettings)[csFolder],
                              kShortcutDescription);
    }
    if (!found) {
        // Disarmed first: no tick may run while the message box is open.
        Timer1->stop();
        ShowMessageBox("ERROR: _settings.ini Not Found !");
        terminateRequested_ = true;
    }
    ShapeWindowFromPicture(*this, Image1->pixmap());
}

void TFMain::Timer1Timer() {
    Timer1->stop();
    if (!ClientSettings || ClientSettings->size() <= csRunCustom) {
        return;
    }
    const std::string& news = (*ClientSettings)[csNewsUrl];
    WebBrowser1->setUrl(news.empty() ? QUrl() : QUrl::fromUserInput(QString::fromStdString(news)));
    Label3->clear();
    try {
        StartUpdateRun(false);
    } catch (...) {
        // No run will give the update button back.
        ImgBtn2->show();
        throw;
    }
}

void TFMain::StartUpdateRun(bool fullCheck) {
    const TStringList& settings = *ClientSettings;
    const std::int32_t createBackup = platform::StrToInt(settings[csCreateBackup]);
    const std::int32_t atRevision = platform::StrToInt(settings[csAtRevision]);
    // Hidden at once rather than at the run's LockButtons, which comes a moment later: a
    // second press in between would start a second run.
    ImgBtn2->hide();
    auto* run = new TLauncherRun(*this);
    run->UpdateUrl = settings[csUpdatesUrl];
    run->FullCheck = fullCheck;
    run->CreateBackup = createBackup;
    run->AtRevision = atRevision;
    run->Resume();
}

void TFMain::ImgBtn1Click() {
    const TStringList& settings = *ClientSettings;
    RunProgram(platform::JoinPath(settings[csFolder], settings[csRunCustom]));
    close();
}

void TFMain::ImgBtn2Click() {
    Label3->clear();
    StartUpdateRun(true);
}

void TFMain::ImgBtn3Click() {
    close();
}

void TFMain::ImgBtn4Click() {
    close();
}

void TFMain::ImgBtn5Click() {
    if (!Form1) {
        return;
    }
    setEnabled(false);
    Form1->move(geometry().center() - QPoint(Form1->width() / 2, Form1->height() / 2));
    // Kept above the main window by the window manager, without being its child: a child
    // would be disabled with it.
    winId();
    Form1->winId();
    if (QWindow* dialog = Form1->windowHandle()) {
        dialog->setTransientParent(windowHandle());
    }
    Form1->show();
    Form1->raise();
    Form1->activateWindow();
}

void TFMain::WebBrowser1NavigateComplete2() {
    Panel1->show();
    Image2->hide();
    Image3->hide();
    Image4->hide();
}

void TFMain::FormClose() {
    if (closed_) {
        return;
    }
    closed_ = true;
    // Before the settings go: a run still under way gets no further notification through.
    dispatcher_->Shutdown();
    Timer1->stop();
    if (Form1) {
        Form1->hide();
    }
    ClientSettings.reset();
    if (OnClosed) {
        OnClosed();
    }
}

void TFMain::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TFMain::UpdateRevision(const std::string& revisionText) {
    if (!ClientSettings) {
        throw platform::EDispatcherClosed();
    }
    WriteAtRevision(*ClientSettings, revisionText);
}

void TFMain::CreateDesktopShortcut(const std::string& name, const std::string& workingFolder,
                                   const std::string& description) {
    if (name.empty()) {
        return;
    }
    // Whether the shortcut could be saved is not looked at: the program runs without it.
    platform::SaveDesktopShortcut(
        {name, description, QCoreApplication::applicationFilePath().toStdString(), workingFolder});
}

void TFMain::ShowStatus(const std::string& text) {
    Label3->setText(QString::fromStdString(text));
}

void TFMain::SetGaugeMax(int kind, std::int64_t maximum) {
    if (kind == 0) {
        Gauge1->SetMaxValue(maximum);
    } else if (kind == 1) {
        Gauge2->SetMaxValue(maximum);
    }
}

void TFMain::SetFileProgress(std::int64_t position) {
    Gauge1->SetProgress(position);
}

void TFMain::SetTotalProgress(std::int64_t position) {
    Gauge2->SetProgress(position);
}

void TFMain::LockButtons() {
    ImgBtn1->hide();
    ImgBtn2->hide();
    ImgBtn5->setEnabled(false);
}

void TFMain::UnlockButtons() {
    ImgBtn1->show();
    ImgBtn2->show();
    ImgBtn5->setEnabled(true);
}

void TFMain::StoreRevision(const std::string& revisionText) {
    UpdateRevision(revisionText);
}

namespace {

// Takes the pictures of both windows once the first update run has ended and the news
// page has loaded, or when the run has gone on for the wait, then closes the main window.
class TScreenshots : public QObject {
public:
    TScreenshots(TFMain& window, TForm1& dialog, QString folder, int waitMs)
        : window_(window), dialog_(dialog), folder_(std::move(folder)), waitMs_(waitMs) {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this] { Check(); });
        poll->start(50);
    }

private:
    void Check() {
        if (done_) {
            return;
        }
        if (window_.Timer1->isActive()) {
            return; // the first tick has not come yet
        }
        if (!runStarted_.isValid()) {
            runStarted_.start();
        }
        const bool runDone = UpdateRunsUnderWay() == 0;
        const bool newsDone = window_.Panel1->isVisibleTo(&window_) || !window_.ClientSettings ||
                              window_.ClientSettings->at(csNewsUrl).empty();
        if (runDone && newsDone) {
            // A page that has loaded still takes a moment to be painted.
            if (!settled_.isValid()) {
                settled_.start();
            }
        } else {
            settled_.invalidate();
        }
        const bool ready = settled_.isValid() && settled_.elapsed() >= 800;
        if (!ready && runStarted_.elapsed() < waitMs_) {
            return;
        }
        done_ = true;
        QDir().mkpath(folder_);
        Save(GrabShaped(window_), QStringLiteral("launcher.png"));
        window_.ImgBtn5Click();
        Save(GrabShaped(dialog_), QStringLiteral("options.png"));
        window_.close();
    }

    void Save(const QImage& picture, const QString& name) {
        const QString path = QDir(folder_).filePath(name);
        if (!picture.save(path)) {
            std::fprintf(stderr, "Velmoran: cannot save %s\n", qPrintable(path));
        }
    }

    TFMain& window_;
    TForm1& dialog_;
    QString folder_;
    int waitMs_;
    QElapsedTimer runStarted_;
    QElapsedTimer settled_;
    bool done_ = false;
};

} // namespace

int RunVelmoran(int argc, char** argv) {
    // Before any thread exists.
    platform::HttpGlobalInit();

    QString screenshots;
    int waitMs = 30000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
            screenshots = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--screenshot-wait") == 0 && i + 1 < argc) {
            waitMs = std::atoi(argv[++i]);
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmoran"));
    QGuiApplication::setApplicationDisplayName(QString::fromUtf8(kApplicationTitle));
    QApplication::setQuitOnLastWindowClosed(false);

    auto fmain = std::make_unique<TFMain>();
    if (fmain->TerminateRequested()) {
        return 1;
    }
    fmain->OnClosed = [] { QCoreApplication::quit(); };
    fmain->show();
    auto form1 = std::make_unique<TForm1>(*fmain);
    fmain->Form1 = form1.get();
    std::unique_ptr<TScreenshots> shots;
    if (!screenshots.isEmpty()) {
        shots = std::make_unique<TScreenshots>(*fmain, *form1, screenshots, waitMs);
    }

    const int code = QApplication::exec();

    shots.reset();
    fmain->Form1 = nullptr;
    form1.reset();
    fmain.reset();
    if (UpdateRunsUnderWay() > 0) {
        // A run is still under way (a download may take a while to notice that the window
        // has gone). Its files are replaced in one step only, so nothing is lost by not
        // waiting; the static objects it may still use are left alone.
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(code);
    }
    return code;
}

} // namespace velmoran
