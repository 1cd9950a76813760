// Declares a logic class's properties and records to the kernel from a
// class-definition XML file under the resource directory.
#pragma once

class IKernel;

// True when the file was read, whatever the individual declarations did;
// false when it cannot be opened or parsed (nothing is logged then).
bool OnCreateClassFromXml(IKernel* kernel, int classIndex, const char* file);

// Boolean attribute text: "true" or "1", any letter case.
bool ParseXmlBool(const char* text);
// Type name ("int", "float", ...) to its VarType code; 0 when unknown.
int XmlTypeCode(const char* text);
