#include "app/previewbrowser.h"

#include <QByteArray>
#include <QUrl>

namespace quillmend {

TPreviewBrowser::TPreviewBrowser(QWidget* parent) : QTextBrowser(parent)
{
  setReadOnly(true);
  setOpenLinks(false);
  setOpenExternalLinks(false);
}

void TPreviewBrowser::ShowHtml(const QString& html, TInlineImages images)
{
  FImages = std::move(images);
  setHtml(html);
}

QVariant TPreviewBrowser::loadResource(int type, const QUrl& name)
{
  QVariant resource;
  if (type == QTextDocument::ImageResource && name.scheme().compare(QLatin1String("cid"), Qt::CaseInsensitive) == 0) {
    const QByteArray contentId = name.path(QUrl::FullyDecoded).toUtf8();
    // A missing, unreadable or refused image shows as the view's placeholder: the message still reads.
    if (const auto bytes =
            FImages.Read(std::string_view(contentId.constData(), static_cast<std::size_t>(contentId.size()))))
      resource = QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size()));
  }
  emit ResourceRequested(name, resource.isValid());
  return resource;
}

}  // namespace quillmend
