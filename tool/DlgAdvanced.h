// The Advanced page: how much of the current processor's flash is used, as
// four lines, a vertical bar and a map of the chain along the flash, and
// Erase Flash.
#pragma once

#include "tool/AdvancedRules.h"
#include "tool/KovraPage.h"

#include <vector>

class CKovraDlg;
class QLabel;
class QProgressBar;
class QPushButton;

// The chain drawn to scale along the flash, one segment per block, with a
// tooltip per segment.
class CFlashMap : public QWidget {
    Q_OBJECT
  public:
    explicit CFlashMap(QWidget* parent = nullptr);
    void SetMap(std::vector<FlashSegment> segments, uint32_t flashSize);
    const std::vector<FlashSegment>& Segments() const { return segments_; }
    // The segment drawn at x, or -1.
    int SegmentAt(int x) const;
    QSize sizeHint() const override { return {300, 34}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

  private:
    QRect Strip() const;
    std::vector<FlashSegment> segments_;
    uint32_t flashSize_ = 0;
};

class CDlgAdvanced : public CKovraEnginePage {
    Q_OBJECT
  public:
    explicit CDlgAdvanced(CKovraDlg& dialog, QWidget* parent = nullptr);
    void Populate() override;
    void EnableDialog(bool enable) override;

  private:
    void OnErase();

    QLabel* unused_ = nullptr;
    QLabel* used_ = nullptr;
    QLabel* total_ = nullptr;
    QLabel* percent_ = nullptr;
    QPushButton* erase_ = nullptr;
    QProgressBar* bar_ = nullptr;
    CFlashMap* map_ = nullptr;
};
