// make_title: paints the title picture that the window shows whenever no game runs, and the
// program's icons from the same art.
//
//   QT_QPA_PLATFORM=offscreen make_title assets/title.bmp
//   QT_QPA_PLATFORM=offscreen make_title --large assets/title-large.png
//   QT_QPA_PLATFORM=offscreen make_title --icons assets/icons
//   QT_QPA_PLATFORM=offscreen make_title --english assets/title-english.png
//
// The picture fills the window's 640 by 480 client area and is saved as a 24-bit BMP; the large
// one is the same picture painted four times finer (2560 by 1920) for large screens, which the
// window scales down smoothly. The icons are a hopper before a tank on the sky and the field,
// 16 to 256 pixels square, in the icon theme's folders (hicolor/NxN/apps/). The picture is
// painted from scratch with QPainter: a sky, the field in perspective, hoppers coming down it,
// the four tanks at the near end, and over that the name, what the game is, each player's
// controls and how to start. A QGuiApplication is made only so that Qt can find the fonts.
// The lines on how to start name the menus in Japanese; for a window in English, --english
// paints the same picture with the English menu names and keeps only the strip that holds those
// lines (kEnglishStrip), twice as fine as the picture, which the window lays over its title.

#include <QColor>
#include <QDir>
#include <QFont>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int    kWidth    = 640;   // pixels, the window's client area
constexpr int    kHeight   = 480;
constexpr double kHorizonY = 196;   // pixels from the top, where the field meets the sky
constexpr double kVanishX  = kWidth / 2.0;

// Japanese glyphs are needed for the menu captions; IPA P Gothic has them and is proportional.
const char* const kFontFamily = "IPAPGothic";

// One colour per player, used for the tank and for that player's badge in the controls.
const QColor kPlayerColours[4] = {
    QColor(226, 64, 58),    // player 1
    QColor(52, 118, 230),   // player 2
    QColor(246, 176, 34),   // player 3
    QColor(156, 84, 214),   // player 4
};

QFont uiFont(double pixelSize, bool bold = false) {
    QFont f(kFontFamily);
    f.setPixelSize(int(std::lround(pixelSize)));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

// ---------------------------------------------------------------------------------------------
// Scenery

void paintSky(QPainter& p) {
    QLinearGradient g(0, 0, 0, kHorizonY);
    g.setColorAt(0.0, QColor(38, 46, 118));
    g.setColorAt(0.55, QColor(92, 112, 196));
    g.setColorAt(1.0, QColor(196, 204, 238));
    p.fillRect(QRectF(0, 0, kWidth, kHorizonY), g);

    // A few soft clouds, each a cluster of overlapping ellipses.
    p.setPen(Qt::NoPen);
    struct Cloud { double x, y, s; };
    const Cloud clouds[] = {{70, 150, 1.0}, {560, 138, 1.2}, {420, 172, 0.7}, {190, 178, 0.6}};
    for (const Cloud& c : clouds) {
        p.setBrush(QColor(255, 255, 255, 70));
        p.drawEllipse(QPointF(c.x, c.y), 46 * c.s, 13 * c.s);
        p.drawEllipse(QPointF(c.x - 20 * c.s, c.y - 7 * c.s), 24 * c.s, 13 * c.s);
        p.drawEllipse(QPointF(c.x + 16 * c.s, c.y - 10 * c.s), 28 * c.s, 15 * c.s);
    }

    // Far hills along the horizon.
    QPainterPath hills;
    hills.moveTo(0, kHorizonY);
    for (int x = 0; x <= kWidth; x += 8)
        hills.lineTo(x, kHorizonY - 10 - 8 * std::sin(x * 0.018) - 5 * std::sin(x * 0.047 + 1.3));
    hills.lineTo(kWidth, kHorizonY);
    hills.closeSubpath();
    p.setBrush(QColor(78, 132, 112));
    p.drawPath(hills);
}

void paintField(QPainter& p) {
    QLinearGradient g(0, kHorizonY, 0, kHeight);
    g.setColorAt(0.0, QColor(118, 186, 84));
    g.setColorAt(1.0, QColor(46, 124, 48));
    p.fillRect(QRectF(0, kHorizonY, kWidth, kHeight - kHorizonY), g);

    // Mown stripes across the field, spaced evenly in depth so they bunch up towards the horizon.
    p.setPen(Qt::NoPen);
    constexpr int kStripes = 14;
    for (int i = 0; i < kStripes; i += 2) {
        const double yNear = kHorizonY + (kHeight - kHorizonY) / (1.0 + i * 0.55);
        const double yFar  = kHorizonY + (kHeight - kHorizonY) / (1.0 + (i + 1) * 0.55);
        p.setBrush(QColor(255, 255, 255, 20));
        p.drawRect(QRectF(0, yFar, kWidth, yNear - yFar));
    }

    // Lanes that run down the field towards the vanishing point.
    QPen lane(QColor(255, 255, 255, 46), 1.6);
    p.setPen(lane);
    constexpr int kLanes = 9;
    for (int i = 0; i <= kLanes; ++i) {
        const double xNear = -260 + i * (kWidth + 520) / double(kLanes);
        const double xFar  = kVanishX + (xNear - kVanishX) * 0.12;
        p.drawLine(QPointF(xFar, kHorizonY), QPointF(xNear, kHeight));
    }

    // A soft haze where the field meets the sky.
    QLinearGradient haze(0, kHorizonY - 2, 0, kHorizonY + 26);
    haze.setColorAt(0.0, QColor(220, 230, 250, 120));
    haze.setColorAt(1.0, QColor(220, 230, 250, 0));
    p.fillRect(QRectF(0, kHorizonY - 2, kWidth, 28), haze);
}

// A hopper: a round body with two big eyes, little feet, and a shadow on the ground below.
// `lift` is how high above its shadow it is, in the same pixels as the radius.
void paintHopper(QPainter& p, QPointF ground, double r, QColor body, double lift) {
    p.setPen(Qt::NoPen);
    const double shadowScale = 1.0 / (1.0 + lift / (4 * r));
    p.setBrush(QColor(0, 40, 0, 70));
    p.drawEllipse(ground, r * 0.95 * shadowScale, r * 0.28 * shadowScale);

    const QPointF c(ground.x(), ground.y() - lift - r);

    // Motion lines under a hopper that is in the air.
    if (lift > r * 0.5) {
        p.setPen(QPen(QColor(255, 255, 255, 150), std::max(1.0, r * 0.09), Qt::SolidLine,
                      Qt::RoundCap));
        for (int k = -1; k <= 1; ++k) {
            const double x = c.x() + k * r * 0.45;
            p.drawLine(QPointF(x, c.y() + r * 1.25), QPointF(x, c.y() + r * 1.25 + r * 0.55));
        }
        p.setPen(Qt::NoPen);
    }

    // Feet.
    p.setBrush(body.darker(150));
    p.drawEllipse(QPointF(c.x() - r * 0.45, c.y() + r * 0.9), r * 0.32, r * 0.18);
    p.drawEllipse(QPointF(c.x() + r * 0.45, c.y() + r * 0.9), r * 0.32, r * 0.18);

    // Body, lit from the upper left.
    QRadialGradient shade(c + QPointF(-r * 0.35, -r * 0.4), r * 1.4);
    shade.setColorAt(0.0, body.lighter(150));
    shade.setColorAt(0.6, body);
    shade.setColorAt(1.0, body.darker(160));
    p.setBrush(shade);
    p.setPen(QPen(body.darker(220), std::max(1.0, r * 0.06)));
    p.drawEllipse(c, r, r * 0.94);

    // Eyes: whites, pupils looking down the field, a glint.
    p.setPen(QPen(QColor(30, 30, 30), std::max(0.8, r * 0.04)));
    for (int side = -1; side <= 1; side += 2) {
        const QPointF eye(c.x() + side * r * 0.36, c.y() - r * 0.18);
        p.setBrush(Qt::white);
        p.drawEllipse(eye, r * 0.27, r * 0.33);
        p.setBrush(QColor(20, 20, 30));
        p.drawEllipse(eye + QPointF(side * -r * 0.04, r * 0.1), r * 0.14, r * 0.17);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(eye + QPointF(-r * 0.04, r * 0.02), r * 0.05, r * 0.05);
        p.setPen(QPen(QColor(30, 30, 30), std::max(0.8, r * 0.04)));
    }

    // A small grin.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(body.darker(260), std::max(1.0, r * 0.07), Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(c.x() - r * 0.28, c.y() + r * 0.05, r * 0.56, r * 0.4), 200 * 16, 140 * 16);
}

// A tank seen from behind: two treads, a hull, a round turret and its gun pointing up the field.
void paintTank(QPainter& p, QPointF c, double s, QColor colour) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 30, 0, 80));
    p.drawEllipse(QPointF(c.x(), c.y() + 20 * s), 40 * s, 9 * s);

    const QColor outline = colour.darker(250);
    p.setPen(QPen(outline, 1.4 * s));

    // Treads with their links.
    for (int side = -1; side <= 1; side += 2) {
        const QRectF tread(c.x() + side * 27 * s - 9 * s, c.y() - 16 * s, 18 * s, 38 * s);
        p.setBrush(QColor(58, 58, 64));
        p.drawRoundedRect(tread, 5 * s, 5 * s);
        p.save();
        p.setPen(QPen(QColor(110, 110, 118), 1.2 * s));
        for (double y = tread.top() + 5 * s; y < tread.bottom() - 2 * s; y += 5 * s)
            p.drawLine(QPointF(tread.left() + 3 * s, y), QPointF(tread.right() - 3 * s, y));
        p.restore();
    }

    // Hull.
    QLinearGradient hull(c.x() - 24 * s, 0, c.x() + 24 * s, 0);
    hull.setColorAt(0.0, colour.lighter(130));
    hull.setColorAt(1.0, colour.darker(140));
    p.setBrush(hull);
    p.drawRoundedRect(QRectF(c.x() - 22 * s, c.y() - 12 * s, 44 * s, 32 * s), 6 * s, 6 * s);

    // Gun barrel, drawn before the turret so the turret covers its root.
    p.setBrush(QColor(70, 70, 78));
    p.drawRoundedRect(QRectF(c.x() - 3.5 * s, c.y() - 44 * s, 7 * s, 40 * s), 2.5 * s, 2.5 * s);
    p.setBrush(QColor(50, 50, 56));
    p.drawRoundedRect(QRectF(c.x() - 5 * s, c.y() - 47 * s, 10 * s, 7 * s), 2 * s, 2 * s);

    // Turret.
    QRadialGradient dome(QPointF(c.x() - 5 * s, c.y() - 2 * s), 18 * s);
    dome.setColorAt(0.0, colour.lighter(160));
    dome.setColorAt(1.0, colour.darker(130));
    p.setBrush(dome);
    p.drawEllipse(QPointF(c.x(), c.y() + 2 * s), 14 * s, 13 * s);
}

// ---------------------------------------------------------------------------------------------
// Text

// Text with a dark outline and a drop shadow, centred on x with its baseline at y.
void paintOutlinedText(QPainter& p, const QString& text, const QFont& font, double cx,
                       double baseline, const QBrush& fill, QColor outline, double outlineWidth) {
    QPainterPath path;
    const double w = QFontMetricsF(font).horizontalAdvance(text);
    path.addText(QPointF(cx - w / 2, baseline), font, text);

    p.save();
    p.setBrush(QColor(0, 0, 0, 110));
    p.setPen(QPen(QColor(0, 0, 0, 110), outlineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path.translated(outlineWidth * 0.9, outlineWidth * 1.2));
    p.setPen(QPen(outline, outlineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawPath(path);
    p.restore();
}

// A line of the controls box is a run of pieces: plain words, and keys drawn as keycaps.
struct Piece {
    enum Kind { Words, Key, Gap } kind;
    QString text;
};

Piece words(const char* s) { return {Piece::Words, QString::fromUtf8(s)}; }
Piece key(const char* s) { return {Piece::Key, QString::fromUtf8(s)}; }
Piece gap() { return {Piece::Gap, {}}; }

struct LineStyle {
    QFont text;
    QFont keycap;
    double keyPad;      // pixels of cap on each side of a key's label
    double keySpace;    // pixels between a keycap and what follows it
    double gapWidth;    // pixels of a Gap piece, between one control and the next
};

double pieceWidth(const Piece& piece, const LineStyle& st) {
    switch (piece.kind) {
    case Piece::Words: return QFontMetricsF(st.text).horizontalAdvance(piece.text);
    case Piece::Key:
        return std::max(QFontMetricsF(st.keycap).horizontalAdvance(piece.text) + 2 * st.keyPad,
                        20.0) + st.keySpace;
    case Piece::Gap: return st.gapWidth;
    }
    return 0;
}

double lineWidth(const std::vector<Piece>& line, const LineStyle& st) {
    double w = 0;
    for (const Piece& piece : line) w += pieceWidth(piece, st);
    return w;
}

// Draws one line of pieces from x with its text baseline at y; returns where it ended.
double paintPieces(QPainter& p, const std::vector<Piece>& line, const LineStyle& st, double x,
                   double baseline, QColor textColour) {
    const QFontMetricsF tm(st.text);
    const QFontMetricsF km(st.keycap);
    for (const Piece& piece : line) {
        const double w = pieceWidth(piece, st);
        if (piece.kind == Piece::Words) {
            p.setFont(st.text);
            p.setPen(textColour);
            p.drawText(QPointF(x, baseline), piece.text);
        } else if (piece.kind == Piece::Key) {
            const double capW = w - st.keySpace;
            const double capH = km.height() + 4;
            const QRectF cap(x, baseline - tm.ascent() + (tm.ascent() - capH) / 2 + 1, capW, capH);
            // The cap's lower lip, then its face.
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(150, 156, 170));
            p.drawRoundedRect(cap.translated(0, 2), 4, 4);
            QLinearGradient face(0, cap.top(), 0, cap.bottom());
            face.setColorAt(0.0, QColor(255, 255, 255));
            face.setColorAt(1.0, QColor(214, 220, 232));
            p.setBrush(face);
            p.setPen(QPen(QColor(110, 116, 132), 1));
            p.drawRoundedRect(cap, 4, 4);
            p.setFont(st.keycap);
            p.setPen(QColor(28, 30, 44));
            p.drawText(cap, Qt::AlignCenter, piece.text);
        }
        x += w;
    }
    return x;
}

// A pill holding a player's label, in that player's colour (two colours for a shared row).
void paintBadge(QPainter& p, QRectF r, const QString& label, QColor a, QColor b) {
    QLinearGradient g(r.topLeft(), r.topRight());
    g.setColorAt(0.0, a);
    g.setColorAt(0.49, a);
    g.setColorAt(0.51, b);
    g.setColorAt(1.0, b);
    p.setPen(QPen(QColor(255, 255, 255, 200), 1.2));
    p.setBrush(g);
    p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    p.setFont(uiFont(13, true));
    p.setPen(QColor(0, 0, 0, 120));
    p.drawText(r.translated(1, 1), Qt::AlignCenter, label);
    p.setPen(Qt::white);
    p.drawText(r, Qt::AlignCenter, label);
}

// ---------------------------------------------------------------------------------------------

// The rows of the 640 x 480 picture that hold the lines on how to start, whatever language.
const QRect kEnglishStrip(0, 320, 640, 72);

QImage paintTitle(int factor, bool english = false) {
    QImage img(kWidth * factor, kHeight * factor, QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    p.scale(factor, factor);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);

    paintSky(p);
    paintField(p);

    // Hoppers coming down the field. Two far ones leap high beside the name (their shadows
    // fall behind the controls box); near ones hop between the tanks. Ordinary ones are pink,
    // the small one light green and the gold one shines.
    paintHopper(p, QPointF(52, 200), 15, QColor(236, 112, 150), 104);
    paintHopper(p, QPointF(588, 200), 12, QColor(236, 112, 150), 110);
    paintHopper(p, QPointF(70, 470), 27, QColor(236, 112, 150), 22);
    paintHopper(p, QPointF(533, 432), 9, QColor(150, 236, 140), 16);
    paintHopper(p, QPointF(590, 470), 21, QColor(250, 214, 84), 0);

    // The four tanks in their row at the near end of the field.
    for (int i = 0; i < 4; ++i)
        paintTank(p, QPointF(176 + i * 96, 446), 0.68, kPlayerColours[i]);

    // --- The name -------------------------------------------------------------------------
    {
        const QFont nameFont = uiFont(92, true);
        QLinearGradient fill(0, 18, 0, 98);
        fill.setColorAt(0.0, QColor(255, 250, 200));
        fill.setColorAt(0.5, QColor(255, 212, 60));
        fill.setColorAt(1.0, QColor(236, 120, 28));
        paintOutlinedText(p, QStringLiteral("HopShot"), nameFont, kWidth / 2.0, 90, fill,
                          QColor(60, 24, 8), 7);
    }

    // --- What the game is -----------------------------------------------------------------
    {
        const QFont f = uiFont(17, true);
        paintOutlinedText(p, QString::fromUtf8("Hopping creatures come down the field — shoot them!"),
                          f, kWidth / 2.0, 131, QBrush(Qt::white), QColor(20, 26, 70), 3.5);
        paintOutlinedText(p, QString::fromUtf8("60 seconds · 1 to 4 players share one window"),
                          uiFont(15, true), kWidth / 2.0, 152, QBrush(QColor(255, 236, 150)),
                          QColor(20, 26, 70), 3.5);
    }

    // --- The controls box -----------------------------------------------------------------
    const QRectF box(26, 164, kWidth - 52, 154);
    {
        p.setPen(QPen(QColor(255, 255, 255, 150), 1.5));
        p.setBrush(QColor(14, 20, 52, 205));
        p.drawRoundedRect(box, 12, 12);

        LineStyle st{uiFont(14), uiFont(13, true), 6, 4, 14};
        const std::vector<Piece> p1 = {
            key("←"), key("→"), words("turn"), gap(),
            key("↑"), words("lower gun"), gap(),
            key("↓"), words("raise gun"), gap(),
            key("Ctrl"), words("fire (hold to charge)")};
        const std::vector<Piece> p2 = {
            key("A"), key("D"), words("turn"), gap(),
            key("W"), words("lower gun"), gap(),
            key("S"), words("raise gun"), gap(),
            key("F"), words("fire (hold to charge)")};
        const std::vector<Piece> p34 = {
            words("Joysticks 1 and 2 — stick turns and aims, button 1 fires")};

        const double badgeW = 50;
        const double textX  = box.left() + 16 + badgeW + 12;
        const double room   = box.right() - 14 - textX;
        // Shrink the controls' text until the widest line fits the box.
        while (std::max(lineWidth(p1, st), lineWidth(p2, st)) > room &&
               st.text.pixelSize() > 10) {
            st.text.setPixelSize(st.text.pixelSize() - 1);
            st.keycap.setPixelSize(st.keycap.pixelSize() - 1);
        }

        p.setFont(uiFont(13, true));
        p.setPen(QColor(170, 190, 255));
        p.drawText(QRectF(box.left(), box.top() + 8, box.width(), 18), Qt::AlignCenter,
                   QStringLiteral("CONTROLS"));

        const double rowH  = 28;
        const double first = box.top() + 48;
        struct Row { QString badge; QColor a, b; const std::vector<Piece>* line; };
        const Row rows[] = {
            {QStringLiteral("1P"), kPlayerColours[0], kPlayerColours[0], &p1},
            {QStringLiteral("2P"), kPlayerColours[1], kPlayerColours[1], &p2},
            {QStringLiteral("3P 4P"), kPlayerColours[2], kPlayerColours[3], &p34},
        };
        for (int i = 0; i < 3; ++i) {
            const double baseline = first + i * rowH;
            paintBadge(p, QRectF(box.left() + 16, baseline - 15, badgeW, 20), rows[i].badge,
                       rows[i].a, rows[i].b);
            paintPieces(p, *rows[i].line, st, textX, baseline, QColor(236, 240, 255));
        }

        // The bomb: a short note under the rows, set apart by a rule.
        const double ruleY = first + 2 * rowH + 14;
        p.setPen(QPen(QColor(255, 255, 255, 60), 1));
        p.drawLine(QPointF(box.left() + 20, ruleY), QPointF(box.right() - 20, ruleY));
        const QFont note = uiFont(14, true);
        p.setFont(note);
        p.setPen(QColor(255, 190, 120));
        p.drawText(QRectF(box.left(), ruleY + 4, box.width(), 22), Qt::AlignCenter,
                   QString::fromUtf8("★ Two charged shots that meet set off a rolling bomb! ★"));
    }

    // --- How to start ---------------------------------------------------------------------
    {
        const QFont big = uiFont(19, true);
        LineStyle st{big, uiFont(15, true), 7, 5, 10};
        const std::vector<Piece> start = {
            key("Ctrl"), words("+"), key("S"),
            words(english ? " or menu  Game → Start  to start" : " or menu  ゲーム → スタート  to start")};
        const double w = lineWidth(start, st);
        // A dark band behind the start line keeps it readable over the field.
        const QRectF band(kWidth / 2.0 - w / 2 - 18, box.bottom() + 7, w + 36, 32);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(10, 14, 40, 190));
        p.drawRoundedRect(band, 16, 16);
        paintPieces(p, start, st, kWidth / 2.0 - w / 2, band.top() + 23, QColor(255, 232, 90));

        LineStyle smallSt{uiFont(14, true), uiFont(12, true), 5, 5, 10};
        const std::vector<Piece> stop = {
            key("Esc"), words("stops a game"), gap(), words("·"), gap(),
            words(english ? "choose players in  Settings → Players" : "choose players in  設定 → 人数設定")};
        const double sw = lineWidth(stop, smallSt);
        const QRectF smallBand(kWidth / 2.0 - sw / 2 - 14, band.bottom() + 5, sw + 28, 24);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(10, 14, 40, 160));
        p.drawRoundedRect(smallBand, 12, 12);
        paintPieces(p, stop, smallSt, kWidth / 2.0 - sw / 2, smallBand.top() + 17,
                    QColor(240, 244, 255));
    }

    p.end();
    return img;
}

// The icon on a 64-unit square: the sky and the field in a rounded square, a red tank at the
// near end and a pink hopper leaping before it, as on the title picture.
QImage paintIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    QPainterPath square;
    square.addRoundedRect(QRectF(1, 1, 62, 62), 12, 12);
    p.setClipPath(square);
    QLinearGradient sky(0, 0, 0, 34);
    sky.setColorAt(0.0, QColor(38, 46, 118));
    sky.setColorAt(1.0, QColor(150, 170, 232));
    p.fillRect(QRectF(0, 0, 64, 34), sky);
    QLinearGradient field(0, 34, 0, 64);
    field.setColorAt(0.0, QColor(118, 186, 84));
    field.setColorAt(1.0, QColor(46, 124, 48));
    p.fillRect(QRectF(0, 34, 64, 30), field);
    paintTank(p, QPointF(46, 50), 0.3, kPlayerColours[0]);
    paintHopper(p, QPointF(26, 54), 15, QColor(236, 112, 150), 6);
    p.setClipping(false);
    p.setPen(QPen(QColor(20, 24, 60), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(square);
    p.end();
    return img;
}

constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
const char* const kIconName = "io.github.hopshot.HopShot.png";

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const bool large = argc == 3 && !std::strcmp(argv[1], "--large");
    const bool icons = argc == 3 && !std::strcmp(argv[1], "--icons");
    const bool english = argc == 3 && !std::strcmp(argv[1], "--english");
    if (argc != 2 && !large && !icons && !english) {
        std::fprintf(stderr, "usage: make_title OUTPUT.bmp | --large OUTPUT.png | --icons DIR | "
                             "--english OUTPUT.png\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[argc - 1]);
    if (icons) {
        for (int size : kIconSizes) {
            const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(out).arg(size);
            if (!QDir().mkpath(dir) || !paintIcon(size).save(dir + "/" + kIconName, "PNG")) {
                std::fprintf(stderr, "make_title: cannot write the icons in %s\n", argv[2]);
                return 1;
            }
        }
        return 0;
    }
    // Without the IPA font Qt falls back to one that may lack the Japanese menu captions.
    const QString found = QFontInfo(uiFont(14)).family();
    if (found != QLatin1String(kFontFamily))
        std::fprintf(stderr, "make_title: warning: font %s not found, drawing with %s\n",
                     kFontFamily, found.toLocal8Bit().constData());
    if (english) {
        constexpr int kFactor = 2;
        const QRect strip(kEnglishStrip.topLeft() * kFactor, kEnglishStrip.size() * kFactor);
        if (!paintTitle(kFactor, true).copy(strip).convertToFormat(QImage::Format_RGB888).save(out, "PNG")) {
            std::fprintf(stderr, "make_title: cannot write %s\n", argv[2]);
            return 1;
        }
        return 0;
    }
    // The window shows the picture as it stands: 24-bit colour, no alpha.
    const QImage picture = paintTitle(large ? 4 : 1).convertToFormat(QImage::Format_RGB888);
    if (!picture.save(out, large ? "PNG" : "BMP")) {
        std::fprintf(stderr, "make_title: cannot write %s\n", argv[argc - 1]);
        return 1;
    }
    return 0;
}
