// The wizard frame interface: a modeless dialog that hosts one page at a time,
// routes Back, Next, Cancel and Finish to the current page and ends the run.
#pragma once

#include <windows.h>

#include <cstdint>

namespace Porter {

// Argument values of setButtons.
enum ButtonState : int {
  Unchanged = 0,  // not touched
  Default = 1,    // enabled; Back disabled on index 0
  Enabled = 2,
  Disabled = 3,   // and any other value
};

// Page placement on one axis: centred, a frame control's edge, or a literal.
constexpr int32_t CenteredPosition = -1;
constexpr int32_t ControlPosition(int controlId) {
  return static_cast<int32_t>(0x80000000u | static_cast<uint32_t>(controlId & 0xFFFF));
}
constexpr bool isControlPosition(int32_t value) {
  return (static_cast<uint32_t>(value) & 0xFFFF0000u) == 0x80000000u;
}
constexpr int positionControlId(int32_t value) { return static_cast<int>(static_cast<uint32_t>(value) & 0xFFFFu); }

class WizardUIPage;

class WizardUI {
 public:
  virtual bool create(HINSTANCE instance, WORD templateId, int nextId, int backId, int cancelId, int finishId,
                      int32_t pageX, int32_t pageY) = 0;                                      // slot 0
  virtual bool addPage(WizardUIPage* page) = 0;                                                // slot 1
  virtual bool start() = 0;                                                                    // slot 2
  virtual bool setButtons(ButtonState cancelState, ButtonState backState, ButtonState nextState) = 0;  // 3
  virtual bool next() = 0;                                                                     // slot 4
  virtual bool back() = 0;                                                                     // slot 5
  virtual int getCurrentIndex() = 0;                                                           // slot 6
  virtual bool goToPage(int index) = 0;                                                        // slot 7
  virtual void shutdown() = 0;                                                                 // slot 8
  virtual void setUserData(void* data) = 0;                                                    // slot 9
  virtual void* getUserData() = 0;                                                             // slot 10
  virtual HINSTANCE getInstance() = 0;                                                         // slot 11
  virtual ~WizardUI() {}                                                                       // slot 12
};

}  // namespace Porter

// The process-wide frame, created on the first call and never deleted.
Porter::WizardUI* getWizardUI();
