// Keeps the widget library non-empty while the windows are being written.
namespace tarnel_gui_placeholder { int unused = 0; }
