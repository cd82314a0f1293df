// The program body's pieces: flag parsing, the conversion driver and its messages.
#pragma once
