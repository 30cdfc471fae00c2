#pragma once
// Placeholder: the SMTP client is being written; its owner replaces this header.
class TSmtpCli {
public:
  virtual ~TSmtpCli() = default;
};
