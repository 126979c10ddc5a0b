#pragma once
// The read-only view an HTML message previews in. It follows no link and loads nothing from the
// network or the disk, except the message's own inline images from the files Eudora kept them in.

#include "eudora/attachments.h"

#include <QTextBrowser>

namespace quillmend {

class TPreviewBrowser : public QTextBrowser {
  Q_OBJECT
public:
  explicit TPreviewBrowser(QWidget* parent = nullptr);

  // Shows html, whose "cid:" images are looked up among images.
  void ShowHtml(const QString& html, TInlineImages images);

signals:
  // Every resource the document asked for, and whether it was given.
  void ResourceRequested(const QUrl& url, bool granted);

protected:
  QVariant loadResource(int type, const QUrl& name) override;

private:
  TInlineImages FImages;
};

}  // namespace quillmend
