// kelvra-icon-render SVG OUTPUT SIZE
//
// Renders the SVG file at SIZE x SIZE pixels (transparent background) and
// writes it to OUTPUT in the image format named by its suffix ("ico", "png").
// Exit status 0, or 1 with a line on standard error.
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <vector>

namespace {

int fail(QString const& message) {
    std::fprintf(stderr, "kelvra-icon-render: %s\n", message.toLocal8Bit().constData());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    // Rendering needs no display: the build may run where there is none.
    std::vector<char*> arguments(argv, argv + argc);
    char platform_option[] = "-platform";
    char platform_name[] = "offscreen";
    arguments.insert(arguments.begin() + 1, {platform_option, platform_name});
    int count = static_cast<int>(arguments.size());
    QGuiApplication application(count, arguments.data());

    QStringList const args = QCoreApplication::arguments();
    if (args.size() != 4) {
        return fail(QStringLiteral("usage: kelvra-icon-render SVG OUTPUT SIZE"));
    }
    QString const& input = args.at(1);
    QString const& output = args.at(2);
    bool size_ok = false;
    int const size = args.at(3).toInt(&size_ok);
    if (!size_ok || size < 1 || size > 256) {
        return fail(QStringLiteral("size must be 1 to 256: ") + args.at(3));
    }

    QSvgRenderer renderer(input);
    if (!renderer.isValid()) {
        return fail(QStringLiteral("cannot read ") + input);
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        renderer.render(&painter);
    }

    QImageWriter writer(output, QFileInfo(output).suffix().toLatin1());
    if (!writer.write(image.convertToFormat(QImage::Format_ARGB32))) {
        QFile::remove(output); // no half-written image for the next build to take
        return fail(output + QStringLiteral(": ") + writer.errorString());
    }
    return 0;
}
