// Owner-drawn buttons with an icon at the left and a caption beside it.
//
// CIconButton draws a plain button face; CShadeButton shades it with a vertical gradient and is
// the status lamp of the "Printer Test" page: SetLamp() shows the dark or the lit lamp icon.
// A click only emits the ordinary QAbstractButton signals; the lamps are display only.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>
#include <QString>

class QPainter;

namespace pellory::widgets {

class CIconButton : public QAbstractButton {
public:
    explicit CIconButton(const QString& caption = {}, QWidget* parent = nullptr);

    // Shows the picture at a resource (or file) path at the left; an empty path or one that
    // cannot be loaded shows no icon. Returns whether a picture was loaded.
    bool SetIconPath(const QString& path);
    // Shows the given picture; a null pixmap shows no icon.
    void SetIconPixmap(const QPixmap& pixmap);
    const QPixmap& IconPixmap() const { return pixmap_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Inner spacing in pixels: around the content, and between icon and caption.
    static constexpr int kMargin = 4;
    static constexpr int kSpacing = 5;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Fills the button face and draws its frame; the icon and caption are drawn on top.
    virtual void PaintFace(QPainter& painter, const QRect& rect);
    // The rectangle the icon is drawn into (empty when there is no icon).
    QRect IconRect() const;

private:
    QPixmap pixmap_;
};

class CShadeButton : public CIconButton {
public:
    // Starts with the shaded face and the dark lamp.
    explicit CShadeButton(const QString& caption = {}, QWidget* parent = nullptr);

    // Shows the lit lamp (true) or the dark lamp (false).
    void SetLamp(bool lit);
    bool IsLit() const { return lit_; }

    // Colours of the gradient, top to bottom. By default derived from the palette's button
    // colour; an invalid colour returns to that default.
    void SetShade(const QColor& top, const QColor& bottom);
    QColor ShadeTop() const;
    QColor ShadeBottom() const;

protected:
    void PaintFace(QPainter& painter, const QRect& rect) override;

private:
    bool lit_ = false;
    QColor top_;
    QColor bottom_;
};

}  // namespace pellory::widgets
