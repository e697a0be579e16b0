#pragma once
// TFlowLayout: items side by side while the width allows, wrapping to a
// new line when it does not, so a narrow (tiled) window stacks its groups
// instead of clipping them. A line's spare width goes to the items that
// grow sideways (a form of line edits), the others keep their natural width.
#include <QLayout>
#include <QList>

class TFlowLayout : public QLayout {
public:
    explicit TFlowLayout(QWidget* parent = nullptr);
    ~TFlowLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    // All on one line.
    QSize sizeHint() const override;
    // The widest item (one that reflows: its minimum): narrower than that,
    // something would be clipped.
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    // Lays the items out in rect (or only measures); the height used.
    int Arrange(const QRect& rect, bool apply) const;

    QList<QLayoutItem*> items_;
};
