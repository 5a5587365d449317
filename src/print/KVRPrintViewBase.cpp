#include "print/KVRPrintViewBase.h"

#include <QDialog>
#include <QPainter>
#include <QPicture>
#include <QPrintDialog>
#include <QPrinter>
#include <cmath>

#include "graphs/KVREvolutionView.h"
#include "graphs/KVRFittingLabel.h"
#include "platform/KVRLocalization.h"
#include "platform/KVRPrintInfo.h"

namespace {

const QColor kText(0x22, 0x26, 0x2b);
const QColor kSecondary(0x6b, 0x72, 0x7c);
const QColor kFrame(0xcf, 0xd4, 0xda);
const QColor kTitleColor(0x4a, 0x52, 0x5c);

// The screen resolution the layouts are designed at: 1 layout unit is one
// pixel there and half a point on paper.
constexpr int kLayoutDpi = 96;

void setColor(QLabel* l, const QColor& c) {
  QPalette pal = l->palette();
  pal.setColor(QPalette::WindowText, c);
  l->setPalette(pal);
}

}  // namespace

// --- Box, separator ------------------------------------------------------------------

KVRPrintBox::KVRPrintBox(QWidget* parent) : QWidget(parent) {}

void KVRPrintBox::setContent(QWidget* content) {
  content_ = content;
  if (content_) content_->setParent(this);
  placeContent();
}

void KVRPrintBox::placeContent() {
  if (!content_) return;
  const int inset = framed_ ? 14 : 6;
  content_->setGeometry(rect().adjusted(inset, inset, -inset, -inset));
}

void KVRPrintBox::resizeEvent(QResizeEvent*) { placeContent(); }

void KVRPrintBox::paintEvent(QPaintEvent*) {
  if (!framed_) return;
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kFrame, 2));
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 12, 12);
}

KVRPrintSeparator::KVRPrintSeparator(QWidget* parent) : QWidget(parent) {}

void KVRPrintSeparator::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), kFrame);
}

// --- Base ------------------------------------------------------------------------------

KVRPrintViewBase::KVRPrintViewBase(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_DontShowOnScreen);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
}

QColor KVRPrintViewBase::titleColor() { return kTitleColor; }

void KVRPrintViewBase::setTextColor(QLabel* label, const QColor& color) { setColor(label, color); }

QFont KVRPrintViewBase::printFont(int pixelSize, bool bold) {
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(pixelSize);
  f.setBold(bold);
  return f;
}

void KVRPrintViewBase::beginDocument(const QSizeF& printable) { adjustSizingForPrinting(printable); }

void KVRPrintViewBase::beginPageInRect(const QSizeF&) {}

void KVRPrintViewBase::layOutContents() {
  // findChildren lists parents before their children.
  for (QWidget* w : findChildren<QWidget*>()) {
    if (auto* box = dynamic_cast<KVRPrintBox*>(w)) box->placeContent();
    else if (auto* band = dynamic_cast<KVRPrintBand*>(w)) band->layOut();
  }
}

void KVRPrintViewBase::place(QWidget* w, const KVRLayoutRect& r) {
  if (!w || !w->parentWidget()) return;
  w->setGeometry(r.toQt(w->parentWidget()->height()));
}

KVRLayoutRect KVRPrintViewBase::frameOf(const QWidget* w) {
  if (!w || !w->parentWidget()) return KVRLayoutRect{};
  return KVRLayoutRect::fromQt(w->geometry(), w->parentWidget()->height());
}

QLabel* KVRPrintViewBase::makeLabel(QWidget* parent, int pixelSize, bool bold, Qt::Alignment align) {
  auto* l = new QLabel(parent);
  l->setFont(printFont(pixelSize, bold));
  l->setAlignment(align);
  setColor(l, bold ? kText : kSecondary);
  return l;
}

KVRFittingLabel* KVRPrintViewBase::makeFigure(QWidget* parent, int pixelSize, bool bold, Qt::Alignment align) {
  auto* l = new KVRFittingLabel(parent);
  l->setFont(printFont(pixelSize, bold));
  l->setAlignment(align);
  l->setMinimumPixelSize(KVREvolutionMinimumPixelSize(KVREvolutionStyle::print));
  setColor(l, bold ? kText : kSecondary);
  return l;
}

QLabel* KVRPrintViewBase::makeFooter(QWidget* parent) {
  QLabel* footer = makeLabel(parent, 14, false, Qt::AlignCenter);
  footer->setText(KVRLocalized("Printed with Vortely"));
  return footer;
}

KVRTitledPrintView::KVRTitledPrintView(QWidget* parent) : KVRPrintViewBase(parent) {
  titleLabel_ = makeLabel(this, 34, true);
  footer_ = makeFooter(this);
  trendBox_ = new KVRPrintBox(this);
  displaySettingsBox_ = new KVRPrintBox(this);
}

void KVRTitledPrintView::hideTrendAndSettings() {
  trendBox_->hide();
  displaySettingsBox_->hide();
}

bool KVRPrintViewBase::printTo(QPrinter& printer) {
  const QSizeF printable = printer.pageLayout().paintRect(QPageLayout::Point).size();
  beginDocument(printable);
  QPainter painter;
  if (!painter.begin(&printer)) return false;
  beginPageInRect(printable);
  // One layout unit is half a point. The widgets are recorded first, so that
  // the page keeps its charts, lines and texts as vectors (a widget rendered
  // straight into a printer would be turned into a bitmap).
  QPicture picture;
  {
    QPainter recorder(&picture);
    render(&recorder, QPoint(), QRegion(), QWidget::DrawChildren);
  }
  const double scale = printer.resolution() / 72.0 * 0.5;
  painter.scale(scale, scale);
  painter.drawPicture(0, 0, picture);
  return painter.end();
}

bool KVRPrintViewBase::print(QWidget* dialogParent, QString* error) {
  const KVRPrintInfo info = KVRPrintInfo::shared();
  QPrinter printer(QPrinter::HighResolution);
  printer.setResolution(kLayoutDpi);
  printer.setPageLayout(QPageLayout(info.paperSize, info.orientation, info.margins, QPageLayout::Point));
  printer.setFullPage(false);
  if (!info.outputPdfPath.isEmpty()) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(info.outputPdfPath);
  } else {
    QPrintDialog dialog(&printer, dialogParent);
    if (dialog.exec() != QDialog::Accepted) return false;
  }
  auto fail = [&] {
    if (error) {
      if (printer.outputFormat() == QPrinter::PdfFormat)
        *error = KVRLocalized("The file “%1” could not be written.").arg(printer.outputFileName());
      else if (printer.printerName().isEmpty() || !printer.isValid())
        *error = KVRLocalized("No printer is available. Choose a printer, or print to a PDF file.");
      else
        *error = KVRLocalized("The printer “%1” could not be used.").arg(printer.printerName());
    }
    return false;
  };
  if (printer.outputFormat() == QPrinter::NativeFormat && !printer.isValid()) return fail();
  return printTo(printer) || fail();
}

QImage KVRPrintViewBase::renderPage(const QSizeF& printable, double dotsPerPoint) {
  beginDocument(printable);
  beginPageInRect(printable);
  QImage img(QSize(int(std::ceil(printable.width() * dotsPerPoint)), int(std::ceil(printable.height() * dotsPerPoint))),
             QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::white);
  QPainter painter(&img);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.scale(dotsPerPoint * 0.5, dotsPerPoint * 0.5);
  render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
  painter.end();
  return img;
}
