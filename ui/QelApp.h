#pragma once

// The application: runs the main dialog as the program's only window; the program ends when
// that dialog closes, whichever way.
class CQelApp {
  public:
    // Returns false: there is nothing to run once the main dialog has closed.
    bool InitInstance();
};
