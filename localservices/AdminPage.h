#pragma once

#include <string>

// The control page of the phone side, served at "/" and "/admin"; it drives the admin JSON API.
class AdminPage
{
public:
    static std::string html();
};
