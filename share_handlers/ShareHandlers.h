// Registers the handler classes with the share service by name. Call it once at start-up,
// before anything asks the platform registry: the registry takes the e-mail, SMS, Facebook and
// Twitter platforms from these handlers when it builds itself.
//
// Call it on the main thread.
#pragma once

void registerShareHandlers();
