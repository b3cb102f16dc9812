-- Carrier tariff database (SQLite): one carrier, its tariff list and its
-- numbering data.
CREATE TABLE Carrier (lPKId INTEGER PRIMARY KEY, NomeCarrier VARCHAR(100), sPrefissoInterconn VARCHAR(20));

CREATE TABLE Listino (
  lPKId INTEGER PRIMARY KEY, sGruppoDest_e VARCHAR(100) NOT NULL, iTipoGiorno_e SMALLINT NOT NULL,
  dDalleOre DATETIME, dAlleOre DATETIME, lDalKm INTEGER NOT NULL, lAlKm INTEGER NOT NULL, cCostoMinimo MONEY,
  cCostoRisposta MONEY, cCostoMinuto MONEY, lDurataInizio INTEGER NOT NULL, lDurataFine INTEGER NOT NULL,
  iTempoComposizione SMALLINT, dValiditaDal DATETIME, dValiditaAl DATETIME, sFasciaOraria_e VARCHAR(50) NOT NULL,
  iArrotDurata SMALLINT NOT NULL, iTipoArrotDurata SMALLINT NOT NULL, iArrotCosto REAL NOT NULL,
  iTipoArrotCosto SMALLINT NOT NULL, iDurataRisposta SMALLINT NOT NULL, iDurataMinima SMALLINT NOT NULL
);

CREATE TABLE Destinazioni (
  sNazione VARCHAR(20) NOT NULL, sArea VARCHAR(20) NOT NULL, sDescrizioneNaz VARCHAR(100),
  sDescrizioneArea VARCHAR(100), sTipo VARCHAR(30), rLat REAL, rLong REAL, PRIMARY KEY (sNazione, sArea)
);

CREATE TABLE GruppoDiDestinazioni (
  lPKId INTEGER PRIMARY KEY, sDenominazione VARCHAR(100), sNazione VARCHAR(20), sArea VARCHAR(20)
);

CREATE TABLE NearbyAreas (lPKId INTEGER PRIMARY KEY, SrcArea VARCHAR(20), DstArea VARCHAR(20));

CREATE TABLE Regionali (lPKId INTEGER PRIMARY KEY, sPrefisso VARCHAR(20), sRegione VARCHAR(100));
