#include "ui/text_progress.h"

#include <QPainter>
#include <QStyleOptionFrame>
#include <cmath>

namespace quorlan::ui {

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // the control paints every pixel itself
    connect(&m_timer, &QTimer::timeout, this, &CTextProgressCtrl::marqueeTick);
}

std::pair<int, int> CTextProgressCtrl::SetRange(int lower, int upper) {
    const std::pair<int, int> old{m_lower, m_upper};
    m_lower = lower;
    m_upper = upper;
    update();
    return old;
}

int CTextProgressCtrl::SetPos(int position) {
    const int old = m_position;
    const int top = m_marquee ? m_upper + (m_upper - m_lower) * m_marqueeSize / 100 : m_upper;
    m_position = std::clamp(position, m_lower, std::max(m_lower, top));
    update();
    return old;
}

int CTextProgressCtrl::SetStep(int step) {
    const int old = m_step;
    m_step = step;
    return old;
}

int CTextProgressCtrl::StepIt() {
    int next = m_position + m_step;
    if (next < m_lower) next = m_upper - (m_lower - next);
    if (next > m_upper) next = m_lower + (next - m_upper);
    return SetPos(next);
}

QColor CTextProgressCtrl::GetBarColour() const {
    return m_bar.isValid() ? m_bar : palette().color(QPalette::Highlight);
}
QColor CTextProgressCtrl::GetBgColour() const {
    return m_background.isValid() ? m_background : palette().color(QPalette::Button);
}
QColor CTextProgressCtrl::GetTextColour() const {
    return m_text.isValid() ? m_text : palette().color(QPalette::WindowText);
}
QColor CTextProgressCtrl::GetTextBkColour() const {
    return m_textOnBar.isValid() ? m_textOnBar : palette().color(QPalette::Window);
}

void CTextProgressCtrl::SetMarquee(bool on, int intervalMs) {
    m_marquee = on;
    m_showText = false;
    if (on) {
        m_timer.start(intervalMs);
    } else {
        m_timer.stop();
    }
    update();
}

void CTextProgressCtrl::marqueeTick() {
    const int top = static_cast<int>((m_upper * (m_marqueeSize + 100) + 0.5) / 100);
    if (m_position >= top) m_backwards = true;
    if (m_position <= m_lower) m_backwards = false;
    SetPos(m_position + (m_backwards ? -1 : 1));
}

QString CTextProgressCtrl::shownText() const {
    if (m_lower >= m_upper) return {};
    if (!m_showText) return m_caption;
    const double f = static_cast<double>(m_position - m_lower) / (m_upper - m_lower);
    return QString::asprintf("%d%%", static_cast<int>(std::lround(f * 100)));
}

int CTextProgressCtrl::filledWidth(int width) const {
    if (m_lower >= m_upper) return 0;
    const double f = static_cast<double>(m_position - m_lower) / (m_upper - m_lower);
    return std::min(width, static_cast<int>(f * width));
}

void CTextProgressCtrl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    if (m_lower >= m_upper) return;  // an empty range paints nothing
    // A flat sunken edge, then the bar inside it.
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const QRect inner = rect().adjusted(1, 1, -1, -1);
    QRect filled = inner;
    if (m_marquee) {
        const int block = (inner.width() * m_marqueeSize + 50) / 100;
        const int end = inner.left() + filledWidth(inner.width());
        filled = QRect(QPoint(std::max(inner.left(), end - block), inner.top()),
                       QPoint(std::min(end, inner.right()), inner.bottom()));
    } else {
        filled.setWidth(filledWidth(inner.width()));
    }
    p.fillRect(inner, GetBgColour());
    p.fillRect(filled, GetBarColour());

    const QString text = shownText();
    if (text.isEmpty()) return;
    const Qt::Alignment flags = Qt::AlignVCenter | (m_align == AlignLeft    ? Qt::AlignLeft
                                                    : m_align == AlignRight ? Qt::AlignRight
                                                                            : Qt::AlignHCenter);
    const QRect textRect = inner.adjusted(m_align == AlignLeft ? 2 : 0, 0, m_align == AlignRight ? -3 : 0, 0);
    // Over the empty part in the text colour, over the filled part in the text-background colour.
    p.save();
    p.setClipRegion(QRegion(inner).subtracted(QRegion(filled)));
    p.setPen(GetTextColour());
    p.drawText(textRect, static_cast<int>(flags), text);
    p.restore();
    p.setClipRect(filled);
    p.setPen(GetTextBkColour());
    p.drawText(textRect, static_cast<int>(flags), text);
}

}  // namespace quorlan::ui
