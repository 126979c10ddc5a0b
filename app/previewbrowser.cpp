#include "app/previewbrowser.h"


#include <QByteArray>
#include <QUrl>

#include <fstream>
#include <iterator>

namespace quillmend {

TPreviewBrowser::TPreviewBrowser(QWidget* parent) : QTextBrowser(parent)
{
  setReadOnly(true);
  setOpenLinks(false);
  setOpenExternalLinks(false);
}

void TPreviewBrowser::ShowHtml(const QString& html, std::vector<TInlineImage> images)
{
  FImages = std::move(images);
  setHtml(html);
}

QVariant TPreviewBrowser::loadResource(int type, const QUrl& name)
{
  QVariant resource;
  if (type == QTextDocument::ImageResource && name.scheme().compare(QLatin1String("cid"), Qt::CaseInsensitive) == 0) {
    const QByteArray contentId = name.path(QUrl::FullyDecoded).toUtf8();
    const std::filesystem::path file = InlineImageFile(FImages, std::string_view(contentId.constData(), static_cast<std::size_t>(contentId.size())));
    // A missing or unreadable image shows as the view's placeholder: the message still reads.
    if (std::ifstream in{file, std::ios::binary}; !file.empty() && in) {
      const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      resource = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
  }
  emit ResourceRequested(name, resource.isValid());
  return resource;
}

}  // namespace quillmend
