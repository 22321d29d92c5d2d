// The bundled icon and help page, loaded the way the window program loads them.
#include "resources/AppResources.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QTextBlock>
#include <QTextBrowser>

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "AppResourcesTest";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

TEST(AppIcon, EverySizeIsBundledWithATransparentBackgroundAndSmallOnesArePixelArt) {
    App();
    resources::InitAppResources();
    const QList<QSize> available = resources::AppIcon().availableSizes();
    for (int size : {16, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(available.contains(QSize(size, size)));
        const QImage image =
            QImage(QStringLiteral(":/icons/tovaro-%1.png").arg(size)).convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(image.pixel(size - 1, size - 1)), 0);
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255);
        QSet<QRgb> colours;  // crisp edges in at most sixteen colours: every pixel fully drawn or transparent
        for (int y = 0; y < size && size <= 32; ++y) {
            for (int x = 0; x < size; ++x) {
                const QRgb pixel = image.pixel(x, y);
                EXPECT_TRUE(qAlpha(pixel) == 0 || qAlpha(pixel) == 255) << x << "," << y;
                colours.insert(qAlpha(pixel) == 0 ? 0 : pixel);
            }
        }
        EXPECT_LE(colours.size(), 16);
    }
    QFile svg(QStringLiteral(":/icons/tovaro.svg"));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(svg.readAll().contains("<svg"));
}

TEST(HelpPage, OpensInATextBrowserWithWorkingLinksAndPictures) {
    App();
    QTextBrowser browser;
    browser.setSource(resources::HelpPageUrl());
    EXPECT_EQ(browser.documentTitle(), QStringLiteral("Tovaro Help"));
    EXPECT_GT(browser.toPlainText().size(), 1000);
    QStringList hrefs, images;
    QSet<QString> anchors;
    for (QTextBlock block = browser.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat()) {
                images << format.toImageFormat().name();
            }
            if (!format.anchorHref().isEmpty()) {
                hrefs << format.anchorHref();
            }
            for (const QString& name : format.anchorNames()) {
                anchors.insert(name);
            }
        }
    }
    ASSERT_FALSE(hrefs.isEmpty());
    for (const QString& href : hrefs) {  // the help must work without a network: only links within the page
        EXPECT_TRUE(href.startsWith('#') && anchors.contains(href.mid(1))) << href.toStdString();
    }
    ASSERT_FALSE(images.isEmpty());
    for (const QString& name : images) {
        const QVariant resource = browser.loadResource(QTextDocument::ImageResource, QUrl(name));
        EXPECT_TRUE(resource.isValid() && !resource.value<QByteArray>().isEmpty()) << name.toStdString();
    }
}

}  // namespace
