// A captioned group of radio buttons addressed by index, like a classic radio group control.
#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QStringList>

namespace tz::app {

class RadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    RadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

    // The selected entry, -1 when none.
    int itemIndex() const;
    // Selects an entry without emitting clicked().
    void setItemIndex(int index);
    int itemCount() const;
    QString itemText(int index) const;

  signals:
    // The user clicked an entry (not emitted for setItemIndex).
    void clicked(int index);

  private:
    // Only the checked entry takes the focus by Tab; the arrow keys move within the group.
    void focusOnChecked();

    QButtonGroup m_buttons;
};

}  // namespace tz::app
