// The column dialog: a combo box per role over the source's fields.
#include "gui/ColumnDialog.h"

#include <set>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr const char *role_labels[column_role_count] = {
    "x (east)", "y (north)", "point (station name)", "h (height)",
    "value (anomaly, mGal)", "survey (of the station)"};
constexpr const char *choose_text = "(choose a field)";
constexpr const char *row_number_text = "(none: the row number)";
constexpr const char *no_height_text = "(none: written as 0.000)";
constexpr const char *no_survey_text = "(none: one survey)";
constexpr const char *degrees_text =
    "x and y are longitude and latitude, in degrees";
constexpr const char *crs_label = "Coordinate system of x and y";
constexpr const char *crs_hint =
    "Leave it empty when the file tells it, or when x and y are metres to be "
    "taken as they stand; else a code such as EPSG:32734 or EPSG:4326.";
// Wide enough for the hints to read in two lines.
constexpr int dialog_width = 460;

bool Optional(int role) {
    return role == static_cast<int>(ColumnRole::Point) ||
           role == static_cast<int>(ColumnRole::H) ||
           role == static_cast<int>(ColumnRole::Survey);
}

} // namespace

TColumnDialog::TColumnDialog(const ColumnRequest &request, QWidget *parent)
    : QDialog(parent), fields(request.fields) {
    setWindowTitle(QString("%1 \u2014 %2").arg(column_dialog_caption,
                                              request.file));
    auto *layout = new QVBoxLayout(this);
    lbl_reason = new QLabel(request.reason, this);
    lbl_reason->setWordWrap(true);
    layout->addWidget(lbl_reason);

    auto *form = new QFormLayout;
    for (int r = 0; r < column_role_count; ++r) {
        QComboBox *box = new QComboBox(this);
        box->addItem(r == static_cast<int>(ColumnRole::Point) ? row_number_text
                     : r == static_cast<int>(ColumnRole::H)   ? no_height_text
                     : r == static_cast<int>(ColumnRole::Survey)
                         ? no_survey_text
                         : choose_text);
        for (const std::string &field : fields) {
            box->addItem(QString::fromStdString(field));
        }
        // The earlier choice, where the source still has the field.
        const std::string &earlier = request.columns.field[r];
        for (size_t k = 0; k < fields.size(); ++k) {
            if (!earlier.empty() && fields[k] == earlier) {
                box->setCurrentIndex(static_cast<int>(k) + 1);
            }
        }
        cb_role[r] = box;
        form->addRow(role_labels[r], box);
        connect(box, &QComboBox::currentIndexChanged, this,
                &TColumnDialog::CheckChoice);
    }
    layout->addLayout(form);

    chk_degrees = new QCheckBox(degrees_text, this);
    chk_degrees->setChecked(request.columns.geographic);
    layout->addWidget(chk_degrees);
    auto *crs_form = new QFormLayout;
    txt_crs = new QLineEdit(QString::fromStdString(request.source_crs), this);
    crs_form->addRow(crs_label, txt_crs);
    layout->addLayout(crs_form);
    auto *hint = new QLabel(crs_hint, this);
    hint->setWordWrap(true);
    hint->setEnabled(false); // drawn as a hint
    layout->addWidget(hint);
    setMinimumWidth(dialog_width);

    buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    CheckChoice();
}

void TColumnDialog::CheckChoice() {
    std::set<int> taken;
    bool sound = true;
    for (int r = 0; r < column_role_count; ++r) {
        const int index = cb_role[r]->currentIndex();
        if (index <= 0) {
            sound = sound && Optional(r);
            continue;
        }
        sound = sound && taken.insert(index).second;
    }
    buttons->button(QDialogButtonBox::Ok)->setEnabled(sound);
}

void TColumnDialog::TakeChoice(ColumnRequest &request) const {
    for (int r = 0; r < column_role_count; ++r) {
        const int index = cb_role[r]->currentIndex();
        request.columns.field[r] =
            index > 0 ? fields[static_cast<size_t>(index - 1)] : std::string();
    }
    request.columns.geographic = chk_degrees->isChecked();
    request.source_crs = txt_crs->text().trimmed().toStdString();
}

bool RunColumnDialog(ColumnRequest &request, QWidget *parent) {
    TColumnDialog dialog(request, parent);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    dialog.TakeChoice(request);
    return true;
}
