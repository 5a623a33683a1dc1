#pragma once
// The station's exception types. They carry the operator-facing message; every
// event handler is run through the guard of error_box.h, which shows it.
#include <stdexcept>
#include <string>

class EStationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A text that is not a number ("'%s' 不是整数").
class EConvertError : public EStationError {
public:
    using EStationError::EStationError;
};

// Opening or configuring the serial port failed.
class ECommsError : public EStationError {
public:
    using EStationError::EStationError;
};

// The database could not be opened, read or written.
class EDatabaseError : public EStationError {
public:
    using EStationError::EStationError;
};

// A file (the settings file) could not be read or written.
class EInOutError : public EStationError {
public:
    using EStationError::EStationError;
};

// An index outside a list ("List index out of bounds (%d)").
class EListError : public EStationError {
public:
    using EStationError::EStationError;
};

// An operation refused for its argument ("Value must be Positive").
class EInvalidOperation : public EStationError {
public:
    using EStationError::EStationError;
};
