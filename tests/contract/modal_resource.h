// Identifiers of the modal platform tests' resources.
#pragma once
