#pragma once

namespace velda {

class FormRegistry;

// Every form of the program, from each subsystem's own registration function.
void RegisterAllForms(FormRegistry& registry);

// The program's registry, filled once.
const FormRegistry& ProgramForms();

} // namespace velda
