// Error types of the core library. Each carries exactly the message the program shows;
// context such as a file name is added by whoever prints it.
#pragma once

#include <stdexcept>
#include <string>

namespace tz {

// A plain error ("Source bitmap too small", settings-store failures, file errors).
class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A fatal libjpeg error: message "JPEG error #N" with the library's message code.
class JpegError : public Error {
  public:
    JpegError(const std::string& message, int code) : Error(message), m_code(code) {}
    explicit JpegError(const std::string& message) : Error(message) {}
    // The library's message code, or -1 when the error did not come from the library.
    int code() const { return m_code; }

  private:
    int m_code = -1;
};

// A failure of the GIF picture, with one of its fixed message texts.
class GifError : public Error {
  public:
    using Error::Error;
};

// A PNG file that cannot be read or a picture that cannot be written as one.
class PngError : public Error {
  public:
    using Error::Error;
};

// A WebP file that cannot be read or a picture that cannot be written as one.
class WebpError : public Error {
  public:
    using Error::Error;
};

// A HEIF or AVIF file that cannot be read.
class HeifError : public Error {
  public:
    using Error::Error;
};

}  // namespace tz
