#pragma once

#include <QLabel>

namespace velnoria {

// Image1: the program's logo, scaled into its place, clickable like a link.
class LogoImage : public QLabel {
    Q_OBJECT
  public:
    explicit LogoImage(QWidget* parent = nullptr);

  signals:
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool pressed_ = false;
};

}  // namespace velnoria
