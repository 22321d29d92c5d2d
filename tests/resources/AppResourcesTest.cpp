// The bundled icon and help page, loaded the way the window program loads them.
#include "resources/AppResources.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QStringList>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFragment>

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "AppResourcesTest";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

constexpr int kSizes[] = {16, 32, 48, 64, 128, 256};

QImage BundledIcon(int size) {
    resources::InitAppResources();
    return QImage(QStringLiteral(":/icons/tovaro-%1.png").arg(size)).convertToFormat(QImage::Format_ARGB32);
}

TEST(AppIcon, EverySizeIsBundledAtItsOwnSizeWithATransparentBackground) {
    for (int size : kSizes) {
        SCOPED_TRACE(size);
        QImage image = BundledIcon(size);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(image.pixel(size - 1, size - 1)), 0);
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255);
    }
}

TEST(AppIcon, SmallSizesArePixelArtInAtMostSixteenColours) {
    for (int size : {16, 32}) {
        SCOPED_TRACE(size);
        QImage image = BundledIcon(size);
        ASSERT_FALSE(image.isNull());
        QSet<QRgb> colours;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                QRgb pixel = image.pixel(x, y);
                // Crisp edges: every pixel is either fully drawn or fully transparent.
                EXPECT_TRUE(qAlpha(pixel) == 0 || qAlpha(pixel) == 255) << x << "," << y;
                colours.insert(qAlpha(pixel) == 0 ? 0 : pixel);
            }
        }
        EXPECT_LE(colours.size(), 16);
    }
}

TEST(AppIcon, OffersEveryBundledSize) {
    App();
    const QList<QSize> available = resources::AppIcon().availableSizes();
    for (int size : kSizes) {
        EXPECT_TRUE(available.contains(QSize(size, size))) << size;
    }
}

TEST(AppIcon, ScalableArtworkIsBundled) {
    resources::InitAppResources();
    QFile svg(QStringLiteral(":/icons/tovaro.svg"));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(svg.readAll().contains("<svg"));
}

// What a text browser made of the help page: its links, the anchors they may lead to, and its pictures.
struct PageContents {
    QStringList hrefs;
    QSet<QString> anchors;
    QStringList images;
};

PageContents Contents(const QTextDocument& document) {
    PageContents page;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat()) {
                page.images << format.toImageFormat().name();
            }
            if (!format.anchorHref().isEmpty()) {
                page.hrefs << format.anchorHref();
            }
            for (const QString& name : format.anchorNames()) {
                page.anchors.insert(name);
            }
        }
    }
    return page;
}

class HelpPage : public ::testing::Test {
  protected:
    void SetUp() override { m_browser.setSource(resources::HelpPageUrl()); }
    QApplication& m_app = App();  // before any widget
    QTextBrowser m_browser;
};

TEST_F(HelpPage, OpensInATextBrowser) {
    EXPECT_EQ(m_browser.documentTitle(), QStringLiteral("Tovaro Help"));
    EXPECT_GT(m_browser.toPlainText().size(), 1000);
}

TEST_F(HelpPage, EveryLinkLeadsToAPlaceOnThePage) {
    const PageContents page = Contents(*m_browser.document());
    ASSERT_FALSE(page.hrefs.isEmpty());
    for (const QString& href : page.hrefs) {
        // The help must work without a network: only links within the page.
        ASSERT_TRUE(href.startsWith(QLatin1Char('#'))) << href.toStdString();
        EXPECT_TRUE(page.anchors.contains(href.mid(1))) << href.toStdString();
    }
}

TEST_F(HelpPage, EveryPictureLoads) {
    const PageContents page = Contents(*m_browser.document());
    ASSERT_FALSE(page.images.isEmpty());
    for (const QString& name : page.images) {
        const QVariant resource = m_browser.loadResource(QTextDocument::ImageResource, QUrl(name));
        EXPECT_TRUE(resource.isValid() && !resource.value<QByteArray>().isEmpty()) << name.toStdString();
    }
}

}  // namespace
