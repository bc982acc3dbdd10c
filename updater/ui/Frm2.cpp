// Frm2.cpp: the game options dialog: its controls, loading and saving the options.
#include "updater/ui/Frm2.h"

#include "platform/Convert.h"
#include "platform/Files.h"
#include "platform/Path.h"
#include "platform/Profile.h"
#include "updater/settings/ClientSettings.h"
#include "updater/ui/Messages.h"
#include "updater/ui/Skin.h"
#include "updater/ui/UnitMain.h"
#include "updater/ui/WindowShape.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QStyle>
#include <QStyleFactory>
#include <QToolButton>
#include <algorithm>
#include <cctype>

namespace velmoran {

namespace {

constexpr char kVideo[] = "Video";
constexpr char kGame[] = "Game";

// One choice of a box and the value stored for it.
struct Choice {
    const char* text;
    const char* stored;
};

struct Resolution {
    const char* text;
    const char* x;
    const char* y;
    int sum; // loading picks the row by the sum of the stored numbers
};

constexpr Resolution kResolutions[] = {
    {"640x480", "640", "480", 1120},     {"800x600", "800", "600", 1400},
    {"1024x768", "1024", "768", 1792},   {"1280x960", "1280", "960", 2240},
    {"1280x1024", "1280", "1024", 2304},
};
constexpr Choice kColorDepths[] = {{"32 Bit", "32"}, {"16 Bit", "16"}};
constexpr Choice kRefreshRates[] = {
    {"60 hz", "60"}, {"75 hz", "75"}, {"85 hz", "85"}, {"100 hz", "100"}};
// PartyLooting is the position itself.
constexpr const char* kLootRules[] = {"Finders Keepers", "Random", "Random including spoil",
                                      "By turn", "By turn including spoil"};

template <typename Row, std::size_t N> bool IsRow(const Row (&)[N], int index) {
    return index >= 0 && static_cast<std::size_t>(index) < N;
}

// The row whose stored text is the number, or -1: no choice.
template <std::size_t N> int RowOfNumber(const Choice (&rows)[N], std::int64_t number) {
    for (std::size_t i = 0; i < N; ++i) {
        if (std::to_string(number) == rows[i].stored) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top, bool bold) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    label->move(left, top);
    label->adjustSize();
    return label;
}

} // namespace

EBooleanConvertError::EBooleanConvertError(const std::string& text)
    : Exception("'" + text + "' is not a valid boolean value") {}

bool StrToBool(const std::string& text) {
    const std::string lower = Lower(text);
    if (lower == "true") {
        return true;
    }
    if (lower == "false") {
        return false;
    }
    try {
        return platform::StrToInt64(text) != 0;
    } catch (const platform::EConvertError&) {
        throw EBooleanConvertError(text);
    }
}

std::string OptionFilePath() {
    return platform::JoinPath(platform::GetCurrentDir() + platform::PathDelimiter,
                              "system\\option.ini");
}

TForm1::TForm1(TFMain& main) : TDraggableForm(nullptr), FMain(main) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    setFixedSize(220, 300);
    CreateControls();
    RunHandler([this] { FormCreate(); });
}

void TForm1::CreateControls() {
    // Narrow letters: the layout's boxes were measured for a narrow dialog font.
    QFont base = font();
    base.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("DejaVu Sans")});
    base.setStretch(QFont::SemiCondensed);
    base.setPixelSize(11);
    setFont(base);
    // Light grey on dark blue, the same wherever the program runs.
    QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"));
    if (style) {
        style->setParent(this);
    }
    QPalette colours = palette();
    const QColor text(214, 218, 226);
    colours.setColor(QPalette::WindowText, text);
    colours.setColor(QPalette::ButtonText, text);
    colours.setColor(QPalette::Text, text);
    colours.setColor(QPalette::Button, QColor(32, 46, 86));
    colours.setColor(QPalette::Base, QColor(18, 27, 54));
    colours.setColor(QPalette::Highlight, QColor(74, 102, 168));
    colours.setColor(QPalette::HighlightedText, Qt::white);
    setPalette(colours);

    Image1 = new QLabel(this);
    Image1->setGeometry(0, 0, 220, 300);
    Image1->setPixmap(LoadSkinPicture(FMain.SkinFolder(), "options.png"));
    Image1->hide();

    Label6 = MakeLabel(this, "Updater settings ", 67, 42, true);
    CheckBox3 = new QCheckBox(QStringLiteral("Create Backup before update"), this);
    CheckBox3->setGeometry(31, 58, 169, 17);
    Label5 = MakeLabel(this, "Game settings ", 73, 88, true);

    auto makeBox = [&](QRect place, const std::initializer_list<const char*>& texts) {
        auto* box = new QComboBox(this);
        box->setGeometry(place);
        for (const char* text : texts) {
            box->addItem(QString::fromUtf8(text));
        }
        // A box starts without a choice; only the loading gives it one.
        box->setCurrentIndex(-1);
        return box;
    };
    Label1 = MakeLabel(this, "Resolution :", 35, 111, false);
    ComboBox1 = makeBox(QRect(100, 108, 93, 21),
                        {kResolutions[0].text, kResolutions[1].text, kResolutions[2].text,
                         kResolutions[3].text, kResolutions[4].text});
    Label2 = MakeLabel(this, "Color quality :", 28, 135, false);
    ComboBox2 = makeBox(QRect(100, 132, 93, 21), {kColorDepths[0].text, kColorDepths[1].text});
    Label3 = MakeLabel(this, "Refresh rate :", 27, 159, false);
    ComboBox3 = makeBox(QRect(100, 156, 93, 21), {kRefreshRates[0].text, kRefreshRates[1].text,
                                                  kRefreshRates[2].text, kRefreshRates[3].text});
    CheckBox1 = new QCheckBox(QStringLiteral("Low Detail"), this);
    CheckBox1->setGeometry(100, 182, 97, 17);
    CheckBox2 = new QCheckBox(QStringLiteral("FullScreen"), this);
    CheckBox2->setGeometry(100, 200, 97, 17);
    Label4 = MakeLabel(this, "Loot :", 32, 224, false);
    ComboBox4 = makeBox(QRect(66, 221, 127, 21), {kLootRules[0], kLootRules[1], kLootRules[2],
                                                  kLootRules[3], kLootRules[4]});

    auto makeButton = [&](const char* text, QRect place, void (TForm1::*click)()) {
        auto* button = new QToolButton(this);
        button->setText(QString::fromUtf8(text));
        button->setAutoRaise(true);
        button->setGeometry(place);
        button->setCursor(Qt::PointingHandCursor);
        connect(button, &QToolButton::clicked, this,
                [this, click] { RunHandler([this, click] { (this->*click)(); }); });
        return button;
    };
    SpeedButton1 = makeButton("Apply", QRect(48, 256, 59, 25), &TForm1::SpeedButton1Click);
    SpeedButton2 = makeButton("Cancel", QRect(114, 256, 59, 25), &TForm1::SpeedButton2Click);

    if (style) {
        for (QWidget* control : findChildren<QWidget*>()) {
            control->setStyle(style);
        }
    }
}

void TForm1::FormCreate() {
    ShapeWindowFromPicture(*this, Image1->pixmap());
    LoadGameOptions();
}

void TForm1::LoadGameOptions() {
    const std::string path = OptionFilePath();
    // A number that is absent or not a number counts as 0.
    auto number = [&](const char* section, const char* key) -> std::int64_t {
        try {
            return platform::StrToInt(platform::ReadProfileString(section, key, "0", path));
        } catch (const platform::EConvertError&) {
            return 0;
        }
    };

    const std::int64_t sum =
        number(kVideo, "GamePlayViewportX") + number(kVideo, "GamePlayViewportY");
    int resolution = -1;
    for (std::size_t i = 0; i < std::size(kResolutions); ++i) {
        if (kResolutions[i].sum == sum) {
            resolution = static_cast<int>(i);
        }
    }
    ComboBox1->setCurrentIndex(resolution);
    ComboBox2->setCurrentIndex(RowOfNumber(kColorDepths, number(kVideo, "ColorBits")));
    ComboBox3->setCurrentIndex(RowOfNumber(kRefreshRates, number(kVideo, "RefreshRate")));
    CheckBox1->setChecked(
        StrToBool(platform::ReadProfileString(kVideo, "IsKeepMinFrameRate", "true", path)));
    CheckBox2->setChecked(
        StrToBool(platform::ReadProfileString(kVideo, "StartupFullScreen", "false", path)));
    const int loot = static_cast<int>(number(kGame, "PartyLooting"));
    ComboBox4->setCurrentIndex(IsRow(kLootRules, loot) ? loot : -1);

    const TStringList* settings = FMain.ClientSettings.get();
    if (settings && settings->size() > csCreateBackup && (*settings)[csCreateBackup] == "1") {
        CheckBox3->setChecked(true);
    }
}

void TForm1::SaveGameOptions() {
    const std::string path = OptionFilePath();
    auto write = [&](const char* section, const char* key, const std::string& value) {
        if (!platform::WriteProfileString(section, key, value, path)) {
            throw ESettingsWriteError(path);
        }
    };
    // A box without a choice holds a stored value that none of its rows matches: that
    // value is kept rather than replaced by a guess.
    const int resolution = ComboBox1->currentIndex();
    if (IsRow(kResolutions, resolution)) {
        write(kVideo, "GamePlayViewportX", kResolutions[resolution].x);
        write(kVideo, "GamePlayViewportY", kResolutions[resolution].y);
    }
    const int depth = ComboBox2->currentIndex();
    if (IsRow(kColorDepths, depth)) {
        write(kVideo, "ColorBits", kColorDepths[depth].stored);
    }
    const int refresh = ComboBox3->currentIndex();
    if (IsRow(kRefreshRates, refresh)) {
        write(kVideo, "RefreshRate", kRefreshRates[refresh].stored);
    }
    write(kVideo, "IsKeepMinFrameRate", CheckBox1->isChecked() ? "true" : "false");
    write(kVideo, "StartupFullScreen", CheckBox2->isChecked() ? "true" : "false");
    const int loot = ComboBox4->currentIndex();
    if (IsRow(kLootRules, loot)) {
        write(kGame, "PartyLooting", std::to_string(loot));
    }

    if (!FMain.ClientSettings) {
        return;
    }
    TStringList& settings = *FMain.ClientSettings;
    const std::string backup = CheckBox3->isChecked() ? "1" : "0";
    settings.at(csCreateBackup) = backup;
    WriteCreateBackup(settings, backup);
}

void TForm1::SpeedButton1Click() {
    // Without the game's option file nothing is written at all, not even the backup choice.
    if (platform::FileExists(OptionFilePath())) {
        SaveGameOptions();
    }
    CloseDialog();
}

void TForm1::SpeedButton2Click() {
    CloseDialog();
}

void TForm1::CloseDialog() {
    hide();
    FMain.setEnabled(true);
}

} // namespace velmoran
