#include "pages/Forms.h"

#include "oracle/DbError.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "shell/ProgramEnd.h"

#include <QString>

#include <exception>
#include <memory>

namespace {

std::unique_ptr<Form1> form1;
std::unique_ptr<Form2> form2;
std::unique_ptr<Form3> form3;

// The code shown for a failure that did not come from the data layer.
constexpr long kUnexpectedFailure = -2147418113;

// The instance is stored before its load steps run, so that whatever the
// load refers to (the page itself included) finds it. A failing load passes
// its failure on to the handler that referred to the page.
template <typename Form>
Form& instance(std::unique_ptr<Form>& slot)
{
    if (!slot) {
        slot = std::make_unique<Form>();
        slot->Form_Load();
    }
    return *slot;
}

} // namespace

Form1& GetForm1() { return instance(form1); }
Form2& GetForm2() { return instance(form2); }
Form3& GetForm3() { return instance(form3); }

bool Form2Loaded() { return form2 != nullptr; }
bool Form3Loaded() { return form3 != nullptr; }

std::optional<Failure> RunCaught(const std::function<void()>& action)
{
    try {
        action();
        return std::nullopt;
    } catch (const DbError& e) {
        return Failure{e.number(), QString::fromStdString(e.description()), e.isMissingTable()};
    } catch (const std::exception& e) {
        return Failure{kUnexpectedFailure, QString::fromLocal8Bit(e.what())};
    } catch (...) {
        return Failure{kUnexpectedFailure, QStringLiteral("Unknown failure")};
    }
}

bool RunUnguarded(const std::function<void()>& action)
{
    const std::optional<Failure> failure = RunCaught(action);
    if (failure)
        ReportFailureAndEnd(failure->number, failure->description);
    return !failure;
}

void DestroyFormsForTests()
{
    form3.reset();
    form2.reset();
    form1.reset();
}
