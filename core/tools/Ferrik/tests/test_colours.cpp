// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The console's colours on light and dark palettes: the light ones exactly as they always were, the
// dark ones readable (WCAG AA, 4.5:1 against Base), and a palette change while running recolours
// the panes, the editor and the find field.
#include <gtest/gtest.h>

#include "qt_test_support.h"

#include <QApplication>
#include <QStyle>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include "FerrikColours.h"
#include "FerrikDlg.h"
#include "FerrikSyntaxHighLighter.h"

namespace {

using H = FerrikSyntaxHighLighter;

QPalette paletteOf(QColor base, QColor text, QColor window = QColor()) {
    QPalette palette = QApplication::palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, base);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Window, window.isValid() ? window : base);
        palette.setColor(group, QPalette::WindowText, text);
    }
    return palette;
}

// The dark palettes that desktops give: Fusion's usual dark one, darker and black ones, and the Base
// colours of two common dark themes.
const std::vector<QPalette>& darkPalettes() {
    static const std::vector<QPalette> palettes = {
        paletteOf(QColor(42, 42, 42), QColor(255, 255, 255), QColor(53, 53, 53)),
        paletteOf(QColor(30, 30, 30), QColor(220, 220, 220)),
        paletteOf(QColor(0, 0, 0), QColor(255, 255, 255)),
        paletteOf(QColor(35, 38, 41), QColor(252, 252, 252), QColor(49, 54, 59)),
        paletteOf(QColor(45, 45, 45), QColor(238, 238, 236)),
    };
    return palettes;
}

const std::vector<QPalette>& lightPalettes() {
    static const std::vector<QPalette> palettes = {
        paletteOf(QColor(255, 255, 255), QColor(0, 0, 0)),
        paletteOf(QColor(245, 245, 240), QColor(30, 30, 30)),
        paletteOf(QColor(200, 200, 200), QColor(0, 0, 0)),
    };
    return palettes;
}

std::string describe(const QColor& colour) {
    return colour.name().toStdString();
}

TEST(Colours, ContrastFollowsTheWcagDefinition) {
    EXPECT_NEAR(ferrik::contrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(ferrik::contrastRatio(Qt::white, Qt::white), 1.0, 1e-9);
    // Published figures: #777777 on white is 4.48:1, pure blue on white 8.59:1.
    EXPECT_NEAR(ferrik::contrastRatio(QColor(0x77, 0x77, 0x77), Qt::white), 4.48, 0.01);
    EXPECT_NEAR(ferrik::contrastRatio(QColor(0, 0, 255), Qt::white), 8.59, 0.01);
    EXPECT_TRUE(ferrik::isDarkPalette(darkPalettes()[0]));
    EXPECT_FALSE(ferrik::isDarkPalette(lightPalettes()[2]));
}

TEST(Colours, LightPalettesKeepTheHighlightersColoursExactly) {
    const QRgb expected[] = {qRgb(0, 128, 0), qRgb(128, 0, 0), qRgb(80, 0, 0),
                             qRgb(0, 0, 255), qRgb(255, 0, 0), qRgb(128, 128, 128)};
    for (const QPalette& palette : lightPalettes()) {
        H highlighter(static_cast<QTextDocument*>(nullptr));
        highlighter.setPalette(palette);
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(highlighter.textFormat(H::Format(i)).foreground().color(), QColor(expected[i])) << i;
        }
        EXPECT_EQ(ferrik::textColourFor(Qt::red, palette), QColor(Qt::red));
        EXPECT_EQ(ferrik::textColourFor(QColor("navy"), palette), QColor("navy"));
        EXPECT_EQ(ferrik::backgroundColourFor(QColor(255, 102, 102), palette), QColor(255, 102, 102));
    }
}

TEST(Colours, DarkPalettesGetReadableMatchesOfTheSameHues) {
    for (const QPalette& palette : darkPalettes()) {
        const QColor base = palette.color(QPalette::Base);
        SCOPED_TRACE(describe(base));
        H highlighter(static_cast<QTextDocument*>(nullptr));
        highlighter.setPalette(palette);
        std::vector<QColor> seen;
        for (int i = 0; i < 6; ++i) {
            const QColor light = H::lightColour(H::Format(i));
            const QColor dark = highlighter.textFormat(H::Format(i)).foreground().color();
            EXPECT_GE(ferrik::contrastRatio(dark, base), ferrik::kMinContrast) << i << " " << describe(dark);
            EXPECT_EQ(dark.hslHue(), light.hslHue()) << i;
            EXPECT_NEAR(dark.hslSaturation(), light.hslSaturation(), 2) << i;
            // The formats stay apart from one another, as on a light palette.
            for (const QColor& other : seen) {
                EXPECT_NE(dark, other) << i;
            }
            seen.push_back(dark);
        }
        // Red warnings and errors, navy progress lines, and the find field's red.
        for (const QColor& status : {QColor(Qt::red), QColor("navy")}) {
            const QColor dark = ferrik::textColourFor(status, palette);
            EXPECT_GE(ferrik::contrastRatio(dark, base), ferrik::kMinContrast) << describe(dark);
            EXPECT_EQ(dark.hslHue(), status.hslHue());
        }
        const QColor field = ferrik::backgroundColourFor(QColor(255, 102, 102), palette);
        EXPECT_GE(ferrik::contrastRatio(field, palette.color(QPalette::Text)), ferrik::kMinContrast)
            << describe(field);
        EXPECT_EQ(field.hslHue(), 0);
        EXPECT_GT(field.saturation(), 100) << "still a red";
    }
}

// The whole window on a palette set while it runs, and back.
class PaletteChange : public ::testing::Test {
protected:
    void TearDown() override { setPalette(original); }

    // The widgets take a new application palette through posted events.
    static void setPalette(const QPalette& palette) {
        QApplication::setPalette(palette);
        QApplication::processEvents();
    }

    // The foreground of the first format that the pane gives the line, or an invalid colour.
    static QColor firstColour(const FerrikPacketHistory* pane, int line) {
        for (const QTextLayout::FormatRange& range : pane->lineFormats(line)) {
            if (range.format.hasProperty(QTextFormat::ForegroundBrush)) {
                return range.format.foreground().color();
            }
        }
        return QColor();
    }
    static QColor editorTagColour(const FerrikDlg& window) {
        for (const QTextLayout::FormatRange& range :
             window.teInput->document()->firstBlock().layout()->formats()) {
            if (range.start == 0) {
                return range.format.foreground().color();
            }
        }
        return QColor();
    }
    QColor fieldBase() const { return window.editFind->palette().color(QPalette::Active, QPalette::Base); }

    const QPalette original = QApplication::palette();
    FerrikDlg window;
};

TEST_F(PaletteChange, RecoloursPanesEditorAndFindField) {
    setPalette(lightPalettes()[0]);
    FerrikPacketHistory* pane = window.histOutput;
    window.appendText(pane, "<reply/>", false, true);
    window.appendError("could not save x");
    window.appendText(pane, "<font color='navy'><b>Initilizing Access Point...</b></font>", true, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isAppending(); }));
    const int tagLine = pane->lines().entryFirstLine(0);
    const int errorLine = pane->lines().entryFirstLine(1);
    const int navyLine = pane->lines().entryFirstLine(2);
    window.teInput->setPlainText("<packet/>");
    window.editFind->setText("nowhere");
    window.findNext();

    EXPECT_EQ(firstColour(pane, tagLine), QColor(128, 0, 0));
    EXPECT_EQ(firstColour(pane, errorLine), QColor(Qt::red));
    EXPECT_EQ(firstColour(pane, navyLine), QColor("navy"));
    EXPECT_EQ(editorTagColour(window), QColor(128, 0, 0));
    EXPECT_EQ(fieldBase(), QColor(255, 102, 102));

    const QPalette dark = darkPalettes()[0];
    setPalette(dark);
    const QColor base = dark.color(QPalette::Base);
    for (int line : {tagLine, errorLine, navyLine}) {
        EXPECT_GE(ferrik::contrastRatio(firstColour(pane, line), base), ferrik::kMinContrast)
            << line << " " << describe(firstColour(pane, line));
    }
    EXPECT_GE(ferrik::contrastRatio(editorTagColour(window), base), ferrik::kMinContrast);
    EXPECT_GE(ferrik::contrastRatio(fieldBase(), dark.color(QPalette::Text)), ferrik::kMinContrast)
        << describe(fieldBase());
    // The other pane and a match on the dark palette: the field is the palette's Base, not white.
    EXPECT_EQ(window.histInput->palette().color(QPalette::Base), base);
    window.editFind->setText("reply");
    window.findNext();
    EXPECT_EQ(fieldBase(), base);

    setPalette(lightPalettes()[0]);
    EXPECT_EQ(firstColour(pane, tagLine), QColor(128, 0, 0));
    EXPECT_EQ(firstColour(pane, errorLine), QColor(Qt::red));
    EXPECT_EQ(editorTagColour(window), QColor(128, 0, 0));
    EXPECT_EQ(fieldBase(), QColor(Qt::white));
    window.editFind->setText("nowhere");
    window.findNext();
    EXPECT_EQ(fieldBase(), QColor(255, 102, 102));
}

// A window made while the palette is already dark starts with the dark colours.
TEST_F(PaletteChange, AWindowMadeOnADarkPaletteStartsDark) {
    const QPalette dark = darkPalettes()[1];
    setPalette(dark);
    FerrikDlg late;
    late.appendText(late.histOutput, "<a>&amp;</a>", false, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !late.isAppending(); }));
    const QColor colour = firstColour(late.histOutput, 0);
    EXPECT_GE(ferrik::contrastRatio(colour, dark.color(QPalette::Base)), ferrik::kMinContrast)
        << describe(colour);
    late.teInput->setPlainText("<packet/>");
    EXPECT_GE(ferrik::contrastRatio(editorTagColour(late), dark.color(QPalette::Base)), ferrik::kMinContrast);
}

}  // namespace
