// Identifiers of the sheets platform tests' resources.
#pragma once
