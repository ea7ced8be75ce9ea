#pragma once
#include "form1.h"
#include "frmabout.h"
#include "frmmonitor.h"
#include "frmoption.h"
#include "frmstartup.h"
#include "frmupdate.h"
#include "module1.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

// Every window of the program, each made afresh by a test that looks at all of them.
namespace EveryWindow {

struct Window {
    const char* name;
    std::function<std::unique_ptr<QWidget>()> make;
};

inline std::vector<Window> All()
{
    return {
        {"main", [] {
             Module1::Test::ReleaseInstanceLock();
             auto form = std::make_unique<Form1>();
             form->InitForm();
             return std::unique_ptr<QWidget>(std::move(form));
         }},
        {"options", [] { return std::make_unique<frmOption>(nullptr, frmOption::Preview{}); }},
        {"status-board", [] { return std::make_unique<frmMonitor>(nullptr); }},
        {"version-check", [] { return std::make_unique<frmUpdate>(); }},
        {"about", [] { return std::make_unique<frmAbout>(nullptr); }},
        {"splash", [] { return std::make_unique<frmStartUp>(); }},
    };
}

} // namespace EveryWindow
