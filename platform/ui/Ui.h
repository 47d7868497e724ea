// Ports through which the operations below app/ reach the window: list
// boxes, message boxes and the database status text. The desktop client
// realises them with Qt widgets; tests use the recording fakes of
// tests/support. All calls are made on the thread that owns the window.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/credentials/Credentials.h"

namespace tagwell::ui {

inline constexpr int LB_ERR = -1;

// A list box with the Win32 LB_ operations the client uses. Lines stay in
// insertion order (no sorting). Indexes are 0-based.
class ListBox {
 public:
  virtual ~ListBox() = default;
  // LB_ADDSTRING: appends; returns the new line's index.
  virtual int AddString(std::string_view text) = 0;
  // LB_INSERTSTRING: inserts before line index, or appends for -1; returns
  // the new line's index, LB_ERR when index is beyond the count.
  virtual int InsertString(int index, std::string_view text) = 0;
  // LB_DELETESTRING: returns the number of lines left, LB_ERR when there is
  // no such line.
  virtual int DeleteString(int index) = 0;
  // LB_RESETCONTENT.
  virtual void ResetContent() = 0;
  // LB_GETCOUNT.
  virtual int GetCount() const = 0;
  // LB_GETTEXT: the line's text into *text; returns its length in bytes, or
  // LB_ERR (text untouched) when there is no such line.
  virtual int GetText(int index, std::string* text) const = 0;
  // LB_GETCURSEL: the selected line, LB_ERR when none.
  virtual int GetCurSel() const = 0;
  // LB_SETCURSEL: selects line index; -1 or an index out of range clears the
  // selection and returns LB_ERR. Sends no selection notification.
  virtual int SetCurSel(int index) = 0;
  // LB_SETITEMDATA / LB_GETITEMDATA: a number kept with a line. Setting on
  // a missing line gives LB_ERR; getting from one gives LB_ERR.
  virtual int SetItemData(int index, std::intptr_t data) = 0;
  virtual std::intptr_t GetItemData(int index) const = 0;
  // LB_SETHORIZONTALEXTENT: the scrollable width in pixels.
  virtual void SetHorizontalExtent(int pixels) = 0;
  // A row rewrite: LB_INSERTSTRING at index, then LB_DELETESTRING at
  // index + 1 (a selection on the row is lost). A port may change the line
  // in place instead, with the same result.
  virtual void ReplaceString(int index, std::string_view text) {
    InsertString(index, text);
    DeleteString(index + 1);
  }
  // While held (the calls nest), a port may show what changes later, all
  // at once when the last hold ends, so that the cost of drawing and of
  // telling assistive technology does not grow with every line changed.
  // Every operation answers meanwhile as if each change were shown.
  virtual void HoldUpdates(bool hold) { (void)hold; }
};

// Holds the updates of some list boxes for a scope (a tick, an item list).
class HeldUpdates final {
 public:
  explicit HeldUpdates(std::initializer_list<ListBox*> boxes) {
    for (ListBox* box : boxes)
      if (box && count_ < kMax) (boxes_[count_++] = box)->HoldUpdates(true);
  }
  ~HeldUpdates() {
    for (int i = count_; i-- > 0;) boxes_[i]->HoldUpdates(false);
  }
  HeldUpdates(const HeldUpdates&) = delete;
  HeldUpdates& operator=(const HeldUpdates&) = delete;

 private:
  static constexpr int kMax = 8;
  ListBox* boxes_[kMax] = {};
  int count_ = 0;
};

enum class Icon { Warning, Information };

// Owner::MainWindow makes the box modal to the main window. Owner::None
// leaves the main window usable while the box is open (its read cycle keeps
// running); the call still returns only when the operator closes the box.
enum class Owner { None, MainWindow };

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

class MessageBox {
 public:
  virtual ~MessageBox() = default;
  // Shows text with an OK button; returns IDOK once it is closed.
  virtual int Show(std::string_view text, std::string_view caption, Icon icon, Owner owner) = 0;
  // Shows text with an OK button and no owner, and returns at once, without
  // waiting for the operator. A box with the same text and caption that is
  // still open is not opened again: false then. A port that cannot show a
  // box without waiting shows it as Show does.
  virtual bool Post(std::string_view text, std::string_view caption, Icon icon) {
    Show(text, caption, icon, Owner::None);
    return true;
  }
  // Asks a question with Yes and No buttons (No the default, as closing the
  // box answers) and returns IDYES or IDNO once the operator answered. A
  // port that cannot ask answers IDNO.
  virtual int AskYesNo(std::string_view text, std::string_view caption, Icon icon, Owner owner) {
    (void)text, (void)caption, (void)icon, (void)owner;
    return IDNO;
  }
};

// The database status line under the item columns; the window creates it
// the first time a text is set.
class StatusText {
 public:
  virtual ~StatusText() = default;
  virtual void SetText(std::string_view text) = 0;
};

// Asks the operator for the account with which to log on to a computer
// (one dialog: user, domain, password, and whether to remember them).
class CredentialsPrompt {
 public:
  virtual ~CredentialsPrompt() = default;
  // computer: as the box names it; reason: one line saying why it asks.
  // *credentials comes in with what to offer (the password empty) and goes
  // out with what was typed; *remember likewise. False when the operator
  // cancelled (nothing changed then).
  virtual bool Ask(std::string_view computer, std::string_view reason,
                   credentials::Credentials* credentials, bool* remember) = 0;
};

}  // namespace tagwell::ui
