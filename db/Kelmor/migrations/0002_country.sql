-- The countries the shop knows, by their two-letter code: what an address's
-- COUNTRYCODE and a freight zone's COUNTRY name. The master-data
-- maintenance keeps them, and refuses to delete one an address still names.
CREATE TABLE COUNTRY (
  COUNTRYCODE NVARCHAR(3) PRIMARY KEY COLLATE NOCASE,
  COUNTRYNAME NVARCHAR(60) NOT NULL
);
