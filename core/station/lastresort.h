#pragma once
// The last place a failure can go when the one meant to show it failed
// too (a box, a log, a view, a destructor): one line on stderr, which the
// journal keeps for the station and the terminal shows for the others.
#include <exception>
#include <string>

// "kalosqm: <where>: <the failure's what()>"; a failure that is no
// std::exception carries no text, and the line says so.
void LastResortLine(const std::string& where, std::exception_ptr failure = std::current_exception());
