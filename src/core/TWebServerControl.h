#pragma once
// The monitor's handle on its web server, which lives in src/web and is wired by the
// program: the monitor starts it at start-up when the port setting is above 0, restarts
// it when the port changes and stops it at shutdown. This base class is the handle of a
// monitor without a web server.
class TWebServerControl {
public:
  virtual ~TWebServerControl() = default;
  // Starts serving on the port (replacing a server that runs); false when the port could
  // not be opened (the server logs why).
  virtual bool Start(int port) { (void)port; return false; }
  // Stops serving and waits for the server's thread.
  virtual void Stop() {}
  virtual bool Running() const { return false; }
};
