#pragma once
// Exceptions of the utility layer. OomError is the only exception that crosses a call in this system:
// frame buffers and snapshot copies throw it when memory for a frame cannot be had.

#include <QString>
#include <exception>
#include <string>

class Error : public std::exception
{
public:
    explicit Error(const QString& message = QString()) : text(message), utf8(message.toStdString()) {}
    const char* what() const noexcept override { return utf8.c_str(); }
    QString message() const { return text; }

private:
    QString text;
    std::string utf8;
};

class OomError : public Error
{
public:
    explicit OomError(const QString& message = QStringLiteral("Out of memory")) : Error(message) {}
};
