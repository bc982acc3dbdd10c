// FrmMain.cpp: the builder's main window; the build run itself is headless (BuildRun).
#include "builder/FrmMain.h"

#include "platform/Files.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadialGradient>
#include <QScreen>
#include <QTreeView>

namespace kelpforge {

namespace {

constexpr int kClientWidth = 502;
constexpr int kClientHeight = 531;

// Stands in for the form's skin: dark grey, light text, flat controls.
constexpr const char* kSkin = R"(
QWidget#FrmMain { background-color: #2d2d30; }
QWidget { color: #e4e4e4; }
QLabel { background: transparent; }
QTreeView, QLineEdit {
    background-color: #1e1e1e; border: 1px solid #55555a; selection-background-color: #3d6fa8;
}
QTreeView:disabled, QLineEdit:disabled { color: #808080; }
QLineEdit { padding: 2px 4px; }
QPushButton {
    background-color: #3f3f46; border: 1px solid #5c5c63; border-radius: 3px; padding: 4px 10px;
}
QPushButton:hover { background-color: #4b4b53; border-color: #7a7a82; }
QPushButton:pressed { background-color: #2f5f93; }
QCheckBox { spacing: 6px; }
QCheckBox::indicator {
    width: 13px; height: 13px; border: 1px solid #7a7a82; background-color: #1e1e1e;
}
QCheckBox::indicator:checked { background-color: #3d8ee0; }
QProgressBar { background-color: #1e1e1e; border: 1px solid #55555a; border-radius: 2px; }
QProgressBar::chunk { background-color: #3d8ee0; }
QScrollBar:vertical { background-color: #2d2d30; width: 12px; margin: 0; }
QScrollBar:horizontal { background-color: #2d2d30; height: 12px; margin: 0; }
QScrollBar::handle { background-color: #5c5c63; border-radius: 4px; min-height: 24px; min-width: 24px; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }
QScrollBar::add-page, QScrollBar::sub-page { background: none; }
)";

QPixmap SpherePicture(int size) {
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QRadialGradient light(size * 0.35, size * 0.3, size * 0.7);
    light.setColorAt(0.0, QColor(0xe8, 0xf4, 0xff));
    light.setColorAt(0.35, QColor(0x4f, 0x9c, 0xe8));
    light.setColorAt(1.0, QColor(0x0c, 0x22, 0x44));
    painter.setPen(Qt::NoPen);
    painter.setBrush(light);
    painter.drawEllipse(QRectF(2, 2, size - 4, size - 4));
    return picture;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, QRect place,
                        bool handCursor) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(place);
    if (handCursor) {
        button->setCursor(Qt::PointingHandCursor);
    }
    return button;
}

} // namespace

TFrmMain::TFrmMain(QWidget* parent) : QWidget(parent) {
    FormCreate();
}

TFrmMain::~TFrmMain() = default;

void TFrmMain::FormCreate() {
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("Velmora builder V5b"));
    // A fixed dialog border with only the close box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QString::fromLatin1(kSkin));

    folders_ = new QFileSystemModel(this);
    folders_->setFilter(QDir::Dirs | QDir::Drives | QDir::NoDotAndDotDot);
    folders_->setOption(QFileSystemModel::DontWatchForChanges);
    folders_->setReadOnly(true);
    folders_->setRootPath(QDir::rootPath());

    STView_FolderEXE = new QTreeView(this);
    STView_FolderEXE->setObjectName(QStringLiteral("STView_FolderEXE"));
    STView_FolderEXE->setGeometry(16, 16, 470, 292);
    STView_FolderEXE->setModel(folders_);
    STView_FolderEXE->setHeaderHidden(true);
    for (int column = 1; column < folders_->columnCount(); ++column) {
        STView_FolderEXE->hideColumn(column);
    }
    STView_FolderEXE->setSelectionMode(QAbstractItemView::SingleSelection);
    STView_FolderEXE->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(STView_FolderEXE, &QWidget::customContextMenuRequested, this, [this](QPoint at) {
        // A right click selects the folder under the mouse.
        const QModelIndex index = STView_FolderEXE->indexAt(at);
        if (index.isValid()) {
            STView_FolderEXE->setCurrentIndex(index);
        }
    });
    // The file system's top with the way to the home folder opened.
    const QString home = QDir::homePath();
    QList<QModelIndex> way;
    for (QModelIndex index = folders_->index(home); index.isValid(); index = index.parent()) {
        way.prepend(index);
    }
    for (const QModelIndex& index : way) {
        STView_FolderEXE->expand(index);
    }
    if (!way.isEmpty()) {
        STView_FolderEXE->scrollTo(way.back(), QAbstractItemView::PositionAtTop);
    }
    // The folders above home arrive later and push it down: keep it (or the chosen
    // folder) in sight while they do.
    connect(folders_, &QFileSystemModel::directoryLoaded, this, [this, home](const QString& path) {
        if (home == path || home.startsWith(QDir(path).absolutePath())) {
            const QModelIndex current = STView_FolderEXE->currentIndex();
            STView_FolderEXE->scrollTo(current.isValid() ? current : folders_->index(home),
                                       QAbstractItemView::PositionAtTop);
        }
    });

    serverLabel_ = new QLabel(QStringLiteral("Server IP"), this);
    serverLabel_->setGeometry(16, 318, 230, 18);
    LbL_IpServer = new QLineEdit(QStringLiteral("127.0.0.1"), this);
    LbL_IpServer->setObjectName(QStringLiteral("LbL_IpServer"));
    LbL_IpServer->setGeometry(16, 338, 230, 24);
    serverLabel_->setBuddy(LbL_IpServer);

    nameLabel_ = new QLabel(QStringLiteral("Updater name"), this);
    nameLabel_->setGeometry(256, 318, 230, 18);
    LbL_NameEXE = new QLineEdit(QStringLiteral("Velmoran.exe"), this);
    LbL_NameEXE->setObjectName(QStringLiteral("LbL_NameEXE"));
    LbL_NameEXE->setGeometry(256, 338, 230, 24);
    nameLabel_->setBuddy(LbL_NameEXE);

    ChkB_ModHost = new QCheckBox(QString::fromUtf8("Modifikovat Hosta"), this);
    ChkB_ModHost->setObjectName(QStringLiteral("ChkB_ModHost"));
    ChkB_ModHost->setGeometry(16, 374, 230, 22);
    ChkB_Crtical = new QCheckBox(QString::fromUtf8("Kritický Update"), this);
    ChkB_Crtical->setObjectName(QStringLiteral("ChkB_Crtical"));
    ChkB_Crtical->setGeometry(256, 374, 230, 22);

    PrgBar_Build = new QProgressBar(this);
    PrgBar_Build->setObjectName(QStringLiteral("PrgBar_Build"));
    PrgBar_Build->setGeometry(16, 408, 470, 18);
    PrgBar_Build->setRange(0, 100);
    PrgBar_Build->setValue(0);
    PrgBar_Build->setTextVisible(false);

    Ico_Sphere = new QLabel(this);
    Ico_Sphere->setObjectName(QStringLiteral("Ico_Sphere"));
    Ico_Sphere->setGeometry(16, 442, 72, 72);
    Ico_Sphere->setPixmap(SpherePicture(72));

    Btn_Build = MakeButton(this, "Btn_Build", QString::fromUtf8("Vytvořit!"),
                           QRect(104, 446, 186, 30), true);
    Btn_Infos =
        MakeButton(this, "Btn_Infos", QStringLiteral("Info"), QRect(300, 446, 186, 30), true);
    Btn_Help = MakeButton(this, "Btn_Help", QStringLiteral("Online pomoc"),
                          QRect(104, 484, 186, 30), false);
    Btn_Quit =
        MakeButton(this, "Btn_Quit", QString::fromUtf8("Zavřít"), QRect(300, 484, 186, 30), true);
    connect(Btn_Build, &QPushButton::clicked, this, [this] { Btn_BuildClick(); });
    connect(Btn_Infos, &QPushButton::clicked, this, [this] { Btn_InfosClick(); });
    connect(Btn_Help, &QPushButton::clicked, this, [this] { Btn_HelpClick(); });
    connect(Btn_Quit, &QPushButton::clicked, this, [this] { Btn_QuitClick(); });

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->availableGeometry();
        move(desktop.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }
}

std::string TFrmMain::SelectedFolder() const {
    const QModelIndex index = STView_FolderEXE->currentIndex();
    if (!index.isValid()) {
        return {};
    }
    const QString path = QDir::toNativeSeparators(folders_->filePath(index));
    return QFile::encodeName(path).toStdString();
}

void TFrmMain::SelectFolder(const QString& path) {
    const QModelIndex index = folders_->index(path);
    if (index.isValid()) {
        STView_FolderEXE->setCurrentIndex(index);
        STView_FolderEXE->scrollTo(index);
    }
}

void TFrmMain::Btn_BuildClick() {
    if (running_) {
        return;
    }
    TBuildSettings settings;
    settings.Server = LbL_IpServer->text().toLocal8Bit().toStdString();
    settings.UpdaterName = QFile::encodeName(LbL_NameEXE->text()).toStdString();
    settings.ModifyHost = ChkB_ModHost->isChecked();
    settings.Critical = ChkB_Crtical->isChecked();
    settings.Root = SelectedFolder();
    settings.CurrentDir = velmoran::platform::GetCurrentDir();
    settings.Jobs = 0;
    running_ = true;
    build_.Run(settings, *this);
    running_ = false;
}

void TFrmMain::Btn_InfosClick() {
    ShowMessageBox(QString::fromUtf8("Kelpforge, the update builder of Velmoran.\n\n"
                                     "Packs every file of a client folder into a ZIP archive "
                                     "of its own in the Upload folder and lists them, with "
                                     "their CRC-32 and archive size, in updates.lst."),
                   false);
}

void TFrmMain::Btn_HelpClick() {
    ShowMessageBox(QString::fromUtf8("Udělám"), false);
}

void TFrmMain::Btn_QuitClick() {
    close();
}

void TFrmMain::ShowMessageBox(const QString& text, bool error) {
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Information,
                    QString::fromLatin1(kApplicationTitle), text, QMessageBox::Ok, this);
    box.exec();
}

void TFrmMain::closeEvent(QCloseEvent* event) {
    // A run goes through to its end; the window closes afterwards.
    if (running_) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TFrmMain::SetTreeEnabled(bool enabled) {
    STView_FolderEXE->setEnabled(enabled);
}

void TFrmMain::SetProgressMax(int maximum) {
    PrgBar_Build->setMaximum(maximum);
}

void TFrmMain::SetProgressPosition(int position) {
    PrgBar_Build->setValue(position);
    // Let the bar repaint; clicks and keys wait until the run is over.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TFrmMain::ShowMessage(const std::string& text) {
    ShowMessageBox(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())), false);
}

void TFrmMain::ShowError(const std::string& text) {
    ShowMessageBox(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())), true);
}

} // namespace kelpforge
