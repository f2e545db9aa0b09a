// The About box: the program's icon, "Kovra Version 1.0" and a line on what
// the tool does.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
