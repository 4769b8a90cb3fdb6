// What a screen reader gets from the readings table: a table of the rows that belong to
// channels (not the empty rows drawn below them), with column headers, and cells that are
// read, never toggled or edited. Qt's own table interface would offer every one of the ninety
// rows and a "Toggle" on each cell.
#pragma once

class ReadingsTable;

// Installs the interface for every ReadingsTable; called once, before the first table is built.
void installReadingsAccessible();
