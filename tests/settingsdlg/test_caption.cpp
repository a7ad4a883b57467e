// The Caption page: live sample, positions and the font dialog.
#include "settingsdlg_support.h"

#include "capture/Caption.h"
#include "capture/CaptionSettings.h"
#include "settings/CFontDialog.h"
#include "settings/CSettingsTime.h"

#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QFile>
#include <QFontDialog>
#include <QImage>
#include <QPaintEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace
{
// Remembers the rectangles the page was asked to repaint.
class PaintSpy : public QObject
{
public:
    explicit PaintSpy(QWidget* w) { w->installEventFilter(this); }
    QRegion painted;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent*>(e)->region();
        return false;
    }
};

// Pixels of the caption colour (pure red) in the sample area as drawn now.
int RedPixels(CSettingsTime* page)
{
    const QImage image = page->grab(page->SampleRect()).toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += c.red() > 200 && c.green() < 60 && c.blue() < 60;
        }
    return n;
}

CSettingsTime* CaptionPage(CSettings& sheet)
{
    return static_cast<CSettingsTime*>(sheet.GetPage(kCaption));
}

void Settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}
} // namespace

TEST(CaptionFormat, ResultsBeyond127CharactersGiveNothing)
{
    const std::time_t t = LocalTime(2024, 5, 6, 10, 0, 0);
    EXPECT_EQ(FormatCaptionTime(t, QStringLiteral("%Y-%m-%d %H:%M:%S")),
              QStringLiteral("2024-05-06 10:00:00"));
    EXPECT_EQ(FormatCaptionTime(t, QString(127, QLatin1Char('x'))).size(), 127);
    EXPECT_EQ(FormatCaptionTime(t, QString(128, QLatin1Char('x'))), QString());
    // 63 x "%Y" grows past the buffer only when expanded.
    EXPECT_EQ(FormatCaptionTime(t, QStringLiteral("%Y").repeated(40)), QString());
    EXPECT_EQ(FormatCaptionTime(t, QStringLiteral("a\\nb")), QStringLiteral("a\\nb"));
}

// Every keystroke and check-box click asks for the sample area again, drawn
// with the time of that moment; unchecked, nothing is drawn.
TEST_F(SettingsDialogTest, SampleFollowsTheFormatAndTheCheckBox)
{
    u.m_crCaptionColor = RGB(255, 0, 0);
    u.m_strTimeFormat = QStringLiteral("%H");
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kCaption);
        CSettingsTime* page = CaptionPage(sheet);
        PaintSpy spy(page);
        Settle();
        QLineEdit* format = Edit(sheet, kCaption, 1026);
        EXPECT_EQ(page->SampleText(clock.now), QStringLiteral("10"));

        spy.painted = QRegion();
        clock.now += 90 * 60;
        QTest::keyClicks(format, QStringLiteral(":"));
        Settle();
        EXPECT_TRUE(spy.painted.contains(page->SampleRect()));
        QTest::keyClicks(format, QStringLiteral("%M"));
        EXPECT_EQ(page->SampleText(clock.now), QStringLiteral("11:30"));
        const int drawn = RedPixels(page);
        EXPECT_GT(drawn, 20);

        spy.painted = QRegion();
        ClickButton(Button(sheet, kCaption, 1037));
        Settle();
        EXPECT_TRUE(spy.painted.contains(page->SampleRect()));
        EXPECT_EQ(RedPixels(page), 0);
        ClickButton(Button(sheet, kCaption, 1037));
        EXPECT_EQ(RedPixels(page), drawn);

        TypeInto(format, QString(130, QLatin1Char('x')));
        EXPECT_EQ(RedPixels(page), 0);
        ClickOk(sheet);
    });
    EXPECT_EQ(writes(), QStringList{QStringLiteral("Time/Format")});
}

// The stored size opens the chooser in whole points; on OK only face, size
// and colour are kept.
TEST_F(SettingsDialogTest, FontDialogKeepsFaceSizeAndColourOnly)
{
    u.m_strFontName = QStringLiteral("DejaVu Serif");
    u.m_nFontPointSize = 185;
    u.m_crCaptionColor = RGB(0, 255, 0);
    QFont opened;
    COLORREF openedColor = 0;
    onOtherDialog = [&](QDialog& dialog) {
        auto* fonts = qobject_cast<CFontDialog*>(&dialog);
        EXPECT_NE(fonts, nullptr);
        if (!fonts)
            return int(QDialog::Rejected);
        opened = fonts->selectedFont();
        openedColor = fonts->color();
        QFont chosen(QStringLiteral("Liberation Serif"));
        chosen.setPointSize(24);
        chosen.setBold(true);
        chosen.setItalic(true);
        chosen.setUnderline(true);
        fonts->setCurrentFont(chosen);
        fonts->colorList()->setCurrentIndex(fonts->colorList()->findText(QStringLiteral("Blue")));
        return int(QDialog::Accepted);
    };
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kCaption);
        ClickButton(Button(sheet, kCaption, 1024));
        CSettingsTime* page = CaptionPage(sheet);
        EXPECT_EQ(page->m_strFontName, QStringLiteral("Liberation Serif"));
        EXPECT_EQ(page->m_nFontPointSize, 240);
        EXPECT_EQ(page->m_crCaptionColor, RGB(0, 0, 255));
        QFont sample;
        ASSERT_TRUE(page->SampleFont(sample));
        EXPECT_EQ(sample.pixelSize(), 96 * 240 / 720);
        EXPECT_FALSE(sample.bold() || sample.italic() || sample.underline());
        ClickOk(sheet);
    });
    EXPECT_EQ(opened.family(), QStringLiteral("DejaVu Serif"));
    EXPECT_EQ(opened.pointSize(), 18);
    EXPECT_EQ(openedColor, RGB(0, 255, 0));
    EXPECT_EQ(writes(), (QStringList{"Time/Font", "Time/PointSize", "Time/Color"}));
    EXPECT_EQ(StoredString("Time", "Font"), QStringLiteral("Liberation Serif"));
    EXPECT_EQ(StoredInt("Time", "PointSize"), 240);
    EXPECT_EQ(StoredInt("Time", "Color"), int(RGB(0, 0, 255)));
}

// A face the system knows only as an alias, and a colour outside the list,
// survive a font dialog closed with OK; Cancel changes nothing.
TEST_F(SettingsDialogTest, FontDialogUnchangedKeepsAliasFaceAndCustomColour)
{
    u.m_strFontName = QStringLiteral("Arial");
    u.m_nFontPointSize = 180;
    u.m_crCaptionColor = 0x123456;
    int answer = QDialog::Accepted;
    onOtherDialog = [&](QDialog& dialog) {
        auto* fonts = qobject_cast<CFontDialog*>(&dialog);
        EXPECT_NE(fonts, nullptr);
        EXPECT_EQ(fonts ? fonts->colorList()->currentText() : QString(), QStringLiteral("Custom"));
        return answer;
    };
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kCaption);
        ClickButton(Button(sheet, kCaption, 1024));
        answer = QDialog::Rejected;
        ClickButton(Button(sheet, kCaption, 1024));
        ClickOk(sheet);
    });
    EXPECT_TRUE(writes().isEmpty());
    EXPECT_EQ(u.m_strFontName, QStringLiteral("Arial"));
}

TEST_F(SettingsDialogTest, OtherColourIsOfferedThroughTheColourChooser)
{
    CFontDialog dialog;
    dialog.setColor(RGB(255, 0, 0));
    EXPECT_EQ(dialog.colorList()->currentText(), QStringLiteral("Red"));
    ModalAnswer colours([](QDialog& d) {
        auto* chooser = qobject_cast<QColorDialog*>(&d);
        EXPECT_NE(chooser, nullptr);
        if (chooser)
            chooser->setCurrentColor(QColor(1, 2, 3));
        return int(QDialog::Accepted);
    });
    QPushButton* other = nullptr;
    for (auto* b : dialog.findChildren<QPushButton*>())
        if (b->text() == QStringLiteral("&Other..."))
            other = b;
    ClickButton(other);
    EXPECT_EQ(colours.count, 1);
    EXPECT_EQ(dialog.color(), RGB(1, 2, 3));
    EXPECT_EQ(dialog.colorList()->currentText(), QStringLiteral("Custom"));
}

// Out-of-range stored positions check a default radio but stay until clicked.
TEST_F(SettingsDialogTest, PositionRadiosChangeOnlyOnClick)
{
    u.m_nCaptionHorzPos = 7;
    u.m_nCaptionVertPos = -1;
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kCaption);
        EXPECT_TRUE(Button(sheet, kCaption, 1034)->isChecked());
        EXPECT_TRUE(Button(sheet, kCaption, 1027)->isChecked());
        ClickOk(sheet);
    });
    EXPECT_TRUE(writes().isEmpty());
    EXPECT_EQ(u.m_nCaptionHorzPos, 7);

    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kCaption);
        ClickButton(Button(sheet, kCaption, 1035));
        ClickButton(Button(sheet, kCaption, 1028));
        ClickOk(sheet);
    });
    EXPECT_EQ(writes(), (QStringList{"Time/Horizontal Position", "Time/Vertical Position"}));
    EXPECT_EQ(u.m_nCaptionHorzPos, 2);
    EXPECT_EQ(u.m_nCaptionVertPos, 1);
}

namespace
{
// Chooses an entry of a combo box as a user would (the activation signal).
void Choose(CSettings& sheet, int id, int index)
{
    auto* combo = Ctl<QComboBox>(sheet, kCaption, id);
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// Pixels in the sample area, as drawn now, that the test picks.
int SamplePixels(CSettingsTime* page, const std::function<bool(QColor)>& pick)
{
    const QImage image = page->grab(page->SampleRect()).toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += pick(image.pixelColor(x, y));
    return n;
}

bool Bluish(QColor c)
{
    return c.blue() - std::max(c.red(), c.green()) > 60;
}

bool Red(QColor c)
{
    return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}

class CaptionExtrasPage : public SettingsDialogTest
{
protected:
    CaptionExtrasPage() { CaptionExtrasInForce() = CaptionExtras(); }
    ~CaptionExtrasPage() override { CaptionExtrasInForce() = CaptionExtras(); }
    QTemporaryDir files;
};
} // namespace

// The style, its colour and the overlay are stored under their own keys and
// take effect at once; what cannot be used keeps the user on the page.
TEST_F(CaptionExtrasPage, StyleAndOverlayAreValidatedAndStored)
{
    const QString logo = files.filePath(QStringLiteral("logo.png"));
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    ASSERT_TRUE(image.save(logo));
    const QString notImage = files.filePath(QStringLiteral("notes.png"));
    QFile text(notImage);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("just text");
    text.close();
    onOtherDialog = [](QDialog& dialog) {
        auto* chooser = qobject_cast<QColorDialog*>(&dialog);
        EXPECT_NE(chooser, nullptr);
        if (chooser)
            chooser->setCurrentColor(QColor(0, 0, 128));
        return int(QDialog::Accepted);
    };
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kCaption);
        Choose(sheet, IDC_CAPTION_STYLE, 3);
        ClickButton(Button(sheet, kCaption, IDC_OUTLINE_COLOR));
        TypeInto(Edit(sheet, kCaption, IDC_OVERLAY_IMAGE), notImage);
        ClickOk(sheet);
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_TRUE(boxes.texts[0].startsWith("The overlay image cannot be used: "));
        EXPECT_EQ(sheet.GetActiveIndex(), kCaption);
        TypeInto(Edit(sheet, kCaption, IDC_OVERLAY_IMAGE), logo);
        TypeInto(Edit(sheet, kCaption, IDC_OVERLAY_OPACITY), "101");
        ClickOk(sheet);
        ASSERT_EQ(boxes.texts.size(), 2);
        TypeInto(Edit(sheet, kCaption, IDC_OVERLAY_OPACITY), "60");
        Choose(sheet, IDC_OVERLAY_POSITION, 0);
        ClickOk(sheet);
    });
    EXPECT_EQ(boxes.texts.size(), 2);
    EXPECT_EQ(writes(), (QStringList{"Time/Outline", "Time/Outline Color", "Overlay/Image",
                                     "Overlay/Position", "Overlay/Opacity"}));
    EXPECT_EQ(StoredInt("Time", "Outline Color"), int(RGB(0, 0, 128)));
    const CaptionExtras& x = CaptionExtrasInForce();
    EXPECT_EQ(x.nOutline, 3);
    EXPECT_EQ(x.strOverlayImage, logo);
    EXPECT_EQ(x.nOverlayOpacity, 60);
}

// Stored values outside the lists show an entry but stay until one is chosen.
TEST_F(CaptionExtrasPage, OddStoredValuesStayUntilChanged)
{
    CaptionExtrasInForce().nOutline = 9;
    CaptionExtrasInForce().nOverlayPosition = -4;
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kCaption);
        EXPECT_EQ(Ctl<QComboBox>(sheet, kCaption, IDC_CAPTION_STYLE)->currentIndex(), 0);
        EXPECT_EQ(Ctl<QComboBox>(sheet, kCaption, IDC_OVERLAY_POSITION)->currentIndex(), 8);
        ClickOk(sheet);
    });
    EXPECT_TRUE(writes().isEmpty());
    EXPECT_EQ(CaptionExtrasInForce().nOutline, 9);
}

// The sample shows the chosen style in its colour around the caption colour.
TEST_F(CaptionExtrasPage, SampleShowsTheStyle)
{
    u.m_crCaptionColor = RGB(255, 0, 0);
    u.m_strTimeFormat = QStringLiteral("%H:%M");
    CaptionExtrasInForce().crOutlineColor = RGB(0, 0, 255);
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kCaption);
        CSettingsTime* page = CaptionPage(sheet);
        Settle();
        EXPECT_EQ(SamplePixels(page, Bluish), 0);
        const int red = SamplePixels(page, Red);
        EXPECT_GT(red, 20);
        int outline = 0;
        for (int style : {1, 2, 3}) {
            Choose(sheet, IDC_CAPTION_STYLE, style);
            Settle();
            const int n = SamplePixels(page, Bluish);
            EXPECT_GT(n, 20) << style;
            EXPECT_GT(SamplePixels(page, Red), red / 2) << style;
            outline = style == 1 ? n : outline;
        }
        EXPECT_GT(SamplePixels(page, Bluish), 2 * outline) << "a box covers more than an outline";
        ClickCancel(sheet);
    });
}
