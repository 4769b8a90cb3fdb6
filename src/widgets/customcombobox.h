// Combo box whose drop-down list is exactly as wide as the box and whose items are
// separated by an adjustable gap.
#pragma once

#include <QComboBox>

class CustomItemDelegate;

class CustomComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit CustomComboBox(QWidget *parent = nullptr);

    int itemSpacing() const { return m_itemSpacing; }
    CustomItemDelegate *delegate() const { return m_delegate; }
    void addItems(const QStringList &texts);

signals:
    void itemSpacingChanged(int spacing);

public slots:
    void setItemSpacing(int spacing);
    void onCurrentIndexChanged(int index);

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitListWidth();

    CustomItemDelegate *m_delegate = nullptr;
    int m_itemSpacing = 4;
};
