#include "shell/Style.h"

#include <memory>
#include <utility>

#include <QApplication>
#include <QFile>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmapCache>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QSvgRenderer>

// The resources live in a static library, so nothing would pull them into the program otherwise;
// the macro cannot be used inside a namespace.
static void InitShellResources() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(shell);
    return true;
  }();
  (void)registered;
}

namespace orvana {
namespace {

// Fusion derives its edge colours by darkening the window colour, which on a dark window leaves
// check boxes, radio buttons and slider ticks almost invisible. Handing it a lighter window
// colour for just those parts gives them a readable grey edge.
const QColor kLiftedWindow(0xb8, 0xc6, 0xd2);
const QColor kCheckMark(0x3c, 0xee, 0xff);  // Fusion darkens it to the accent
const QColor kSliderButton(0x56, 0x62, 0x6d);

class CyanNightStyle final : public QProxyStyle {
 public:
  explicit CyanNightStyle(QStyle* fusion) : QProxyStyle(fusion) {}

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element == PE_IndicatorCheckBox || element == PE_IndicatorRadioButton) {
      if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option)) {
        QStyleOptionButton lifted(*button);
        lifted.palette = Adjusted(edges_, button->palette, &LiftEdges);
        QProxyStyle::drawPrimitive(element, &lifted, painter, widget);
        return;
      }
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
  }

  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget) const override {
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_Slider || !slider) {
      QProxyStyle::drawComplexControl(control, option, painter, widget);
      return;
    }
    QStyleOptionSlider body(*slider);
    body.subControls &= ~SC_SliderTickmarks;
    body.palette = Adjusted(track_, slider->palette, &LiftTrack);
    QProxyStyle::drawComplexControl(control, &body, painter, widget);
    if (slider->subControls & SC_SliderTickmarks) {
      QStyleOptionSlider ticks(*slider);
      ticks.subControls = SC_SliderTickmarks;
      ticks.palette = Adjusted(edges_, slider->palette, &LiftEdges);
      QProxyStyle::drawComplexControl(control, &ticks, painter, widget);
    }
  }

  // Message boxes get the program's own vector marks instead of the old bitmaps, which blur
  // when scaled; dialog buttons carry text only.
  QIcon standardIcon(StandardPixmap icon, const QStyleOption* option,
                     const QWidget* widget) const override {
    const char* name = nullptr;
    switch (icon) {
      case SP_MessageBoxInformation:
        name = "msg-information";
        break;
      case SP_MessageBoxQuestion:
        name = "msg-question";
        break;
      case SP_MessageBoxWarning:
        name = "msg-warning";
        break;
      case SP_MessageBoxCritical:
        name = "msg-critical";
        break;
      default:
        break;
    }
    if (name) return ShellIcon(QString::fromLatin1(name));
    return QProxyStyle::standardIcon(icon, option, widget);
  }

  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_DialogButtonBox_ButtonsHaveIcons) return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }

 private:
  // Fusion builds the slider's groove and handle from the button colour; a lighter one keeps
  // the empty part of the track and the handle visible against the dark window.
  static void LiftTrack(QPalette& palette) {
    palette.setColor(QPalette::Active, QPalette::Button, kSliderButton);
    palette.setColor(QPalette::Inactive, QPalette::Button, kSliderButton);
  }

  static void LiftEdges(QPalette& palette) {
    palette.setColor(QPalette::Active, QPalette::Window, kLiftedWindow);
    palette.setColor(QPalette::Inactive, QPalette::Window, kLiftedWindow);
    palette.setColor(QPalette::Disabled, QPalette::Window, kLiftedWindow.darker(160));
    palette.setColor(QPalette::Active, QPalette::Text, kCheckMark);
    palette.setColor(QPalette::Inactive, QPalette::Text, kCheckMark);
  }

  // Fusion caches what it draws by palette identity, so each adjusted palette is made once per
  // source palette instead of on every paint.
  struct Memo {
    qint64 source = -1;
    QPalette adjusted;
  };
  static const QPalette& Adjusted(Memo& memo, const QPalette& source, void (*adjust)(QPalette&)) {
    if (memo.source != source.cacheKey()) {
      memo.adjusted = source;
      adjust(memo.adjusted);
      memo.source = source.cacheKey();
    }
    return memo.adjusted;
  }

  mutable Memo edges_;
  mutable Memo track_;
};

QPalette CyanNightPalette() {
  QPalette p;
  const auto both = [&p](QPalette::ColorRole role, const char* color) {
    p.setColor(QPalette::Active, role, QColor(color));
    p.setColor(QPalette::Inactive, role, QColor(color));
  };
  const auto disabled = [&p](QPalette::ColorRole role, const char* color) {
    p.setColor(QPalette::Disabled, role, QColor(color));
  };
  const struct {
    QPalette::ColorRole role;
    const char* normal;
    const char* off;
  } roles[] = {
      {QPalette::Window, "#1e2328", "#1e2328"},
      {QPalette::WindowText, "#e2e8ec", "#66707a"},
      {QPalette::Base, "#14181c", "#1b1f23"},
      {QPalette::AlternateBase, "#191e23", "#1b1f23"},
      {QPalette::Text, "#e2e8ec", "#66707a"},
      {QPalette::PlaceholderText, "#7d8893", "#4f5861"},
      {QPalette::Button, "#2c333a", "#24292e"},
      {QPalette::ButtonText, "#e2e8ec", "#66707a"},
      {QPalette::BrightText, "#ff6b6b", "#8a5050"},
      {QPalette::Light, "#48525c", "#30363c"},
      {QPalette::Midlight, "#3a434c", "#2a3036"},
      {QPalette::Mid, "#2a3036", "#22272c"},
      {QPalette::Dark, "#12161a", "#12161a"},
      {QPalette::Shadow, "#07090b", "#07090b"},
      {QPalette::Highlight, "#0e7c8e", "#34434a"},
      {QPalette::HighlightedText, "#ffffff", "#9aa5ae"},
      {QPalette::Link, "#3fd3e8", "#3e6f78"},
      {QPalette::LinkVisited, "#8fb8ff", "#4f6178"},
      {QPalette::ToolTipBase, "#0f1316", "#0f1316"},
      {QPalette::ToolTipText, "#e2e8ec", "#66707a"},
  };
  for (const auto& r : roles) {
    both(r.role, r.normal);
    disabled(r.role, r.off);
  }
  return p;
}

// Renders straight from the SVG at the size and pixel ratio asked for, so the icons stay sharp
// at any scaling and do not depend on Qt finding its image plug-ins.
class SvgIconEngine final : public QIconEngine {
 public:
  explicit SvgIconEngine(QString path)
      : path_(std::move(path)), renderer_(std::make_shared<QSvgRenderer>(path_)) {}

  QIconEngine* clone() const override { return new SvgIconEngine(*this); }
  QString key() const override { return QStringLiteral("orvana-svg"); }
  bool isNull() override { return !renderer_->isValid(); }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
    if (size.isEmpty()) return {};
    const QString cacheKey = QStringLiteral("orvana-icon:%1:%2x%3:%4")
                                 .arg(path_)
                                 .arg(size.width())
                                 .arg(size.height())
                                 .arg(static_cast<int>(mode));
    QPixmap result;
    if (QPixmapCache::find(cacheKey, &result)) return result;

    result = QPixmap(size);
    result.fill(Qt::transparent);
    {
      QPainter painter(&result);
      painter.setRenderHint(QPainter::Antialiasing);
      renderer_->render(&painter, Fit(size));
    }
    if (mode != QIcon::Normal) {
      // Disabled and selected looks come from the style, like any other icon's.
      QStyleOption option;
      option.palette = QApplication::palette();
      result = QApplication::style()->generatedIconPixmap(mode, result, &option);
    }
    QPixmapCache::insert(cacheKey, result);
    return result;
  }

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
    QPixmap picture = pixmap(rect.size() * ratio, mode, state);
    picture.setDevicePixelRatio(ratio);
    painter->drawPixmap(rect, picture);
  }

 private:
  // Keeps the drawing's proportions and centres it in the requested box.
  QRectF Fit(const QSize& box) const {
    QSizeF drawing = renderer_->defaultSize();
    if (drawing.isEmpty()) drawing = box;
    drawing.scale(box, Qt::KeepAspectRatio);
    return QRectF(
        QPointF((box.width() - drawing.width()) / 2, (box.height() - drawing.height()) / 2),
        drawing);
  }

  QString path_;
  std::shared_ptr<QSvgRenderer> renderer_;  // shared by clones, read-only after loading
};

}  // namespace

bool ApplyCyanNight(QApplication& app, QString* error) {
  InitShellResources();
  QFile sheetFile(QStringLiteral(":/orvana/CyanNight.qss"));
  if (!sheetFile.open(QIODevice::ReadOnly | QIODevice::Text)) {
    if (error) {
      *error = QStringLiteral("The style sheet %1 cannot be read: %2")
                   .arg(sheetFile.fileName(), sheetFile.errorString());
    }
    return false;
  }
  const QString sheet = QString::fromUtf8(sheetFile.readAll());

  QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
  if (!fusion) {
    if (error) *error = QStringLiteral("The Fusion style is not available.");
    return false;
  }
  app.setStyle(new CyanNightStyle(fusion));  // the application owns its style
  app.setPalette(CyanNightPalette());
  app.setStyleSheet(sheet);
  return true;
}

QIcon ShellIcon(const QString& name) {
  InitShellResources();
  if (name.isEmpty() || name.contains(QLatin1Char('/'))) return {};
  const QString path = QStringLiteral(":/orvana/icons/%1.svg").arg(name);
  if (!QFile::exists(path)) return {};
  return QIcon(new SvgIconEngine(path));
}

}  // namespace orvana
