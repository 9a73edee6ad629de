// Decodes the committed program icon with Qt's own .ico reader and checks the
// plus sign in each of its three images: which pixels are opaque, the outline
// and core colours, and the bit depth each directory entry declares.
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTest>
#include <cstdlib>
#include <vector>

namespace {

QString iconPath() {
    return QString::fromLocal8Bit(qgetenv("VELMORA_ICON"));
}

bool inCross(int row, int col) {
    const bool vertical = col >= 6 && col <= 9 && row >= 2 && row <= 13;
    const bool horizontal = row >= 6 && row <= 9 && col >= 2 && col <= 13;
    return vertical || horizontal;
}

// Core: a cross pixel whose eight neighbours all belong to the cross.
bool inCore(int row, int col) {
    for (int dr = -1; dr <= 1; ++dr) {
        for (int dc = -1; dc <= 1; ++dc) {
            if (!inCross(row + dr, col + dc)) {
                return false;
            }
        }
    }
    return true;
}

bool near(QRgb actual, int r, int g, int b, int tolerance) {
    return std::abs(qRed(actual) - r) <= tolerance && std::abs(qGreen(actual) - g) <= tolerance &&
           std::abs(qBlue(actual) - b) <= tolerance;
}

QString describe(QRgb c) {
    return QStringLiteral("(%1,%2,%3,a%4)")
        .arg(qRed(c))
        .arg(qGreen(c))
        .arg(qBlue(c))
        .arg(qAlpha(c));
}

std::vector<QImage> readAll() {
    QImageReader reader(iconPath(), "ico");
    std::vector<QImage> images;
    for (int i = 0; i < reader.imageCount(); ++i) {
        if (!reader.jumpToImage(i)) {
            break;
        }
        images.push_back(reader.read().convertToFormat(QImage::Format_ARGB32));
    }
    return images;
}

} // namespace

class IconCheck : public QObject {
    Q_OBJECT

private slots:
    void directoryDeclaresThreeSixteenPixelImages() {
        QFile file(iconPath());
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(iconPath()));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.size() >= 6 + 3 * 16);
        auto u16 = [&bytes](int at) {
            return static_cast<int>(static_cast<unsigned char>(bytes[at])) |
                   static_cast<int>(static_cast<unsigned char>(bytes[at + 1])) << 8;
        };
        QCOMPARE(u16(0), 0);
        QCOMPARE(u16(2), 1);
        QCOMPARE(u16(4), 3);
        const int expectedDepth[3] = {4, 8, 32};
        for (int i = 0; i < 3; ++i) {
            const int entry = 6 + 16 * i;
            QCOMPARE(static_cast<int>(static_cast<unsigned char>(bytes[entry])), 16);
            QCOMPARE(static_cast<int>(static_cast<unsigned char>(bytes[entry + 1])), 16);
            QCOMPARE(u16(entry + 6), expectedDepth[i]);
        }
    }

    void opaqueExactlyOnTheCross_data() {
        QTest::addColumn<int>("index");
        QTest::newRow("4-bit") << 0;
        QTest::newRow("8-bit") << 1;
        QTest::newRow("32-bit") << 2;
    }
    void opaqueExactlyOnTheCross() {
        QFETCH(int, index);
        const std::vector<QImage> images = readAll();
        QCOMPARE(images.size(), std::size_t{3});
        const QImage& image = images[static_cast<std::size_t>(index)];
        QCOMPARE(image.size(), QSize(16, 16));
        int opaque = 0;
        for (int row = 0; row < 16; ++row) {
            for (int col = 0; col < 16; ++col) {
                const int alpha = qAlpha(image.pixel(col, row));
                const int expected = inCross(row, col) ? 255 : 0;
                QVERIFY2(
                    alpha == expected,
                    qPrintable(
                        QStringLiteral("row %1 col %2 alpha %3").arg(row).arg(col).arg(alpha)));
                opaque += alpha == 255 ? 1 : 0;
            }
        }
        QCOMPARE(opaque, 80);
    }

    void sixteenColourImageUsesTheTwoStandardGreens() {
        const std::vector<QImage> images = readAll();
        QCOMPARE(images.size(), std::size_t{3});
        const QImage& image = images[0];
        for (int row = 0; row < 16; ++row) {
            for (int col = 0; col < 16; ++col) {
                if (!inCross(row, col)) {
                    continue;
                }
                const QRgb c = image.pixel(col, row);
                const QRgb expected = inCore(row, col) ? qRgb(0, 255, 0) : qRgb(0, 128, 0);
                QVERIFY2(
                    (c & 0xffffff) == (expected & 0xffffff),
                    qPrintable(
                        QStringLiteral("row %1 col %2 %3").arg(row).arg(col).arg(describe(c))));
            }
        }
    }

    void shadedImagesHaveDarkOutlineAndDiagonalCore_data() {
        QTest::addColumn<int>("index");
        QTest::newRow("8-bit") << 1;
        QTest::newRow("32-bit") << 2;
    }
    void shadedImagesHaveDarkOutlineAndDiagonalCore() {
        QFETCH(int, index);
        const std::vector<QImage> images = readAll();
        QCOMPARE(images.size(), std::size_t{3});
        const QImage& image = images[static_cast<std::size_t>(index)];
        constexpr int tolerance = 8;
        int corePixels = 0;
        for (int row = 0; row < 16; ++row) {
            for (int col = 0; col < 16; ++col) {
                if (!inCross(row, col) || inCore(row, col)) {
                    continue;
                }
                const QRgb c = image.pixel(col, row);
                QVERIFY2(near(c, 7, 118, 3, tolerance),
                         qPrintable(QStringLiteral("outline row %1 col %2 %3")
                                        .arg(row)
                                        .arg(col)
                                        .arg(describe(c))));
            }
        }
        // Along the diagonal the core never gets lighter, and its two ends
        // carry the light and the deep green.
        for (int row = 0; row < 16; ++row) {
            for (int col = 0; col < 16; ++col) {
                if (!inCore(row, col)) {
                    continue;
                }
                ++corePixels;
                const QRgb c = image.pixel(col, row);
                if (inCore(row, col + 1)) {
                    QVERIFY(qGreen(image.pixel(col + 1, row)) <= qGreen(c));
                }
                if (inCore(row + 1, col)) {
                    QVERIFY(qGreen(image.pixel(col, row + 1)) <= qGreen(c));
                }
            }
        }
        QCOMPARE(corePixels, 36);
        for (const QPoint& upperLeft : {QPoint(7, 3), QPoint(3, 7)}) {
            const QRgb c = image.pixel(upperLeft);
            QVERIFY2(near(c, 136, 237, 85, tolerance), qPrintable(describe(c)));
        }
        for (const QPoint& lowerRight : {QPoint(8, 12), QPoint(12, 8)}) {
            const QRgb c = image.pixel(lowerRight);
            QVERIFY2(near(c, 43, 162, 22, tolerance), qPrintable(describe(c)));
        }
    }
};

QTEST_GUILESS_MAIN(IconCheck)
#include "make_icon_check.moc"
