// The radio group: radio buttons laid out top to bottom, spread over the group's height.
#include "radio_group.h"

#include <QRadioButton>
#include <QVBoxLayout>

namespace tz::app {

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 2, 8, 4);
    layout->setSpacing(0);
    int id = 0;
    for (const QString& text : items) {
        auto* button = new QRadioButton(text, this);
        button->setObjectName(QStringLiteral("RadioGroup1Item%1").arg(id));
        m_buttons.addButton(button, id++);
        layout->addWidget(button);
    }
    connect(&m_buttons, &QButtonGroup::idClicked, this, &RadioGroup::clicked);
    connect(&m_buttons, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) {
            focusOnChecked();
        }
    });
}

void RadioGroup::focusOnChecked() {
    const QAbstractButton* checked = m_buttons.checkedButton();
    for (QAbstractButton* button : m_buttons.buttons()) {
        const bool takesTab =
            checked == nullptr ? button == m_buttons.buttons().front() : button == checked;
        button->setFocusPolicy(takesTab ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

int RadioGroup::itemIndex() const {
    return m_buttons.checkedId();
}

void RadioGroup::setItemIndex(int index) {
    if (QAbstractButton* button = m_buttons.button(index)) {
        button->setChecked(true);
    }
}

int RadioGroup::itemCount() const {
    return static_cast<int>(m_buttons.buttons().size());
}

QString RadioGroup::itemText(int index) const {
    const QAbstractButton* button = m_buttons.button(index);
    return button != nullptr ? button->text() : QString();
}

}  // namespace tz::app
