// Registration of a document type with the desktop shell.
#pragma once

#include <string>

namespace platform {

struct DocumentType {
    std::string programPath;      // the program that opens and prints the documents
    std::string applicationName;  // "Vantrel"
    std::string typeId;           // "Syslog.Document"
    std::string typeName;         // "Syslog Document"
    std::string extension;        // ".log"
    std::string mimeType;         // the desktop's name of the extension's type: "text/x-log"
    std::string iconPng;          // the program's icon, PNG bytes
};

// Registers the program as a handler of the document type, with open and print commands, and
// makes it the handler of the extension where the extension has none yet. What cannot be written
// is skipped.
void RegisterDocumentType(const DocumentType& type);

// Removes what RegisterDocumentType wrote, leaving other programs' associations alone.
void UnregisterDocumentType(const DocumentType& type);

}  // namespace platform
