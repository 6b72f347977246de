// velda-preview IN.dwg OUT.png: writes the picture stored in a drawing as PNG, for administrators
// checking drawings and for tests. Exit 0 when written, 1 with the reason on stderr otherwise.
#include "items/DwgPreview.h"

#include <QCoreApplication>
#include <QImage>
#include <QStringList>

#include <cstdio>

namespace {

int fail(const QString& reason) {
    std::fputs(reason.toUtf8().constData(), stderr);
    std::fputc('\n', stderr);
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        fail(QStringLiteral("用法：velda-preview 图纸文件.dwg 输出图片.png"));
        return 2;
    }
    const velda::DwgPreviewResult result = velda::ReadDwgPreview(args[1]);
    if (!result.found())
        return fail(args[1] + QStringLiteral("：") + result.reason());
    const char* format = result.picture.format == velda::DwgPicture::Format::Png ? "PNG" : "BMP";
    const QImage image = QImage::fromData(result.picture.data, format);
    if (image.isNull())
        return fail(args[1] + QStringLiteral("：图纸中的预览图片无法解码。"));
    if (!image.save(args[2], "PNG"))
        return fail(args[2] + QStringLiteral("：无法写入图片文件。"));
    return 0;
}
