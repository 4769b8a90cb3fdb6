// Build-time painter of the bundle's images.
//   datalogger-imagegen <output dir> <name>...
// Each name is a resource path without ".png" ("dark/arrow_up", "image/start");
// the image is written to <output dir>/<name>.png. An unknown name fails the build.

#include "appicons.h"
#include "themeimages.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>
#include <QtDebug>

namespace {

QImage paintByName(const QString &name)
{
    if (name.startsWith(QLatin1String("dark/")))
        return imagegen::paintThemeImage(name.mid(5));
    if (name.startsWith(QLatin1String("image/")))
        return imagegen::paintAppIcon(name.mid(6));
    return QImage();
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        qCritical() << "用法: datalogger-imagegen <输出目录> <图像名>...";
        return 2;
    }
    const QDir out(args.at(1));
    int failures = 0;
    for (int i = 2; i < args.size(); ++i) {
        const QString &name = args.at(i);
        const QImage image = paintByName(name);
        const QString path = out.filePath(name + QStringLiteral(".png"));
        if (image.isNull()) {
            qCritical() << "未知图像:" << name;
            ++failures;
            continue;
        }
        if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !image.save(path, "PNG")) {
            qCritical() << "图像写入失败:" << path;
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
