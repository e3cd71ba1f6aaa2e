// The form of an authoring project: its elements and attributes checked
// against the published properties of the project classes (the one schema
// of the stored project), before anything is loaded.
#pragma once

#include <string>
#include <vector>

#include "NvXmlUtils.h"
#include "ProjectProblems.h"

namespace nvbuilder {

// Checks the tree under root (a "TSetupScript" element) and adds a problem,
// at the element or attribute concerned, for: an unknown element or
// attribute (with the nearest known name), a value given as an element, an
// element or attribute given twice, text inside an element, an item element
// not named after its list's item class, items outside "Items", a value with
// a malformed character reference, and a value that is not of its
// property's kind (an enumeration's value names, "True"/"False", a number).
// Attributes whose values are refused are emptied in the tree, so that the
// loader, which would default or fail on them, keeps the defaults.
void CheckProjectForm(TXmlNode& root, TProblemList& problems);

// The item elements of a list element, as the loader takes them: the
// children of its first "Items" child, or its own children without one.
std::vector<TXmlNode*> ListItemNodes(const TXmlNode& list);

// How messages name an item: "file item 3", "registry item 1", "shortcut
// 2", "run entry 1", "swiper entry 1", "variable 4"; index counts from 0.
std::string ItemLabel(const std::string& itemClass, int index);

}  // namespace nvbuilder
