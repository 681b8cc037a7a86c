// A progress bar that draws its caption, or its percentage, over the bar itself, in two colours
// so that the text stays readable where the filled part passes under it.
#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

namespace quorlan::ui {

class CTextProgressCtrl : public QWidget {
    Q_OBJECT
public:
    enum Alignment { AlignLeft = 0, AlignCenter = 1, AlignRight = 2 };

    explicit CTextProgressCtrl(QWidget* parent = nullptr);

    // Returns the old range / position / step, as the requests of a progress bar do.
    std::pair<int, int> SetRange(int lower, int upper);
    int SetPos(int position);  // clamped to the range (with a marquee, to upper + marquee size)
    int OffsetPos(int delta) { return SetPos(m_position + delta); }
    int SetStep(int step);
    // Moves by one step; past the upper bound it wraps to the lower bound plus the excess.
    int StepIt();
    [[nodiscard]] int GetPos() const { return m_position; }
    [[nodiscard]] std::pair<int, int> GetRange() const { return {m_lower, m_upper}; }

    void SetBarColour(QColor c) { m_bar = c; update(); }
    void SetBgColour(QColor c) { m_background = c; update(); }
    void SetTextColour(QColor c) { m_text = c; update(); }
    void SetTextBkColour(QColor c) { m_textOnBar = c; update(); }
    [[nodiscard]] QColor GetBarColour() const;
    [[nodiscard]] QColor GetBgColour() const;
    [[nodiscard]] QColor GetTextColour() const;
    [[nodiscard]] QColor GetTextBkColour() const;
    // With the show-text flag the text is the percentage; without it, the caption.
    void SetShowText(bool show) { m_showText = show; update(); }
    void SetTextAlign(Alignment a) { m_align = a; update(); }
    void SetCaption(const QString& caption) { m_caption = caption; update(); }
    void SetMarquee(bool on, int intervalMs);
    void SetMarqueeSize(int percent) { m_marqueeSize = percent; }

    // The text drawn now (the percentage, the caption, or nothing).
    [[nodiscard]] QString shownText() const;
    // The width in pixels of the filled part for a bar of the given inner width.
    [[nodiscard]] int filledWidth(int width) const;

    QSize sizeHint() const override { return {200, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void marqueeTick();

    bool m_showText = true;
    QColor m_bar, m_background, m_text, m_textOnBar;  // invalid: the system's colour
    Alignment m_align = AlignCenter;
    int m_position = 0;
    int m_step = 10;
    int m_lower = 0;
    int m_upper = 100;
    int m_marqueeSize = 20;
    bool m_marquee = false;
    bool m_backwards = false;
    QString m_caption;
    QTimer m_timer;
};

}  // namespace quorlan::ui
