// The dialog that names the columns of a table the readers could not take by
// themselves: which field is x, y, point, h and value, whether x and y are
// longitude and latitude, and the coordinate system of x and y.
#pragma once

#include <string>
#include <vector>

#include <QDialog>
#include <QString>

#include "gis/ColumnChoice.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;

// What the dialog asks and, once accepted, what the user chose.
struct ColumnRequest {
    QString file;                    // the source's name, for the caption
    QString reason;                  // why the columns must be chosen
    std::vector<std::string> fields; // the source's fields, in order
    ColumnsOption columns;           // in: the earlier choice; out: the choice
    std::string source_crs;          // in and out: the CRS of x and y
};

// Title of the dialog; the file's name follows it.
inline constexpr const char *column_dialog_caption = "Korvanel columns";

class TColumnDialog : public QDialog {
    Q_OBJECT

  public:
    explicit TColumnDialog(const ColumnRequest &request,
                           QWidget *parent = nullptr);

    // The choice in the controls.
    void TakeChoice(ColumnRequest &request) const;

    // Controls; owned by the dialog through Qt's parent chain.
    QLabel *lbl_reason;
    QComboBox *cb_role[column_role_count]; // x, y, point, h, value, survey
    QCheckBox *chk_degrees;
    QLineEdit *txt_crs;
    QDialogButtonBox *buttons;

  private:
    // OK only with x, y and value chosen, each field for one role.
    void CheckChoice();

    std::vector<std::string> fields;
};

// Shows the dialog over `parent`; true with `request` filled when the user
// accepted it, false when they cancelled.
bool RunColumnDialog(ColumnRequest &request, QWidget *parent);
